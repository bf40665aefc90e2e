#pragma once

#include <filesystem>

#include "check/findings.h"

namespace kestrel {

/// Reports what a station in `dir` would share with the stations beside it,
/// which only one of them can have: the API's port on the same address, and
/// the station's name in the metrics. Beside it are the station directories
/// among its parent's subdirectories (the instances of one machine), the
/// parent itself and `dir`'s own subdirectories (the plain unit's station
/// holds the instances' directories). A directory is a station when it has a
/// kestrelfield.ini.
void checkNeighbours(const std::filesystem::path& dir, Findings& findings);

}  // namespace kestrel
