#pragma once

#include <optional>

namespace kestrel {

/// Answers the program's command-line options: --check [DIR], --version,
/// --help. Gives nullopt when there are no arguments and the station is to
/// run, else the exit status to end with. Anything else is refused with a
/// usage line and status 2.
std::optional<int> handleArguments(int argc, char** argv);

}  // namespace kestrel
