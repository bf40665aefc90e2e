#pragma once

#include <string>

namespace kestrel {

/// How the command's window would be shown; kept for fidelity with the
/// station's command table (players, kills and deletes run minimised).
enum class WindowStyle {
    NormalWithFocus = 1,
    MinimisedWithFocus = 2,
};

/// Starts one of the station's command lines and never waits for it.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    /// Launches `commandLine`. Returns false when the text is not one of the
    /// station's commands or could not be launched; callers ignore the result.
    virtual bool run(const std::string& commandLine, WindowStyle style) = 0;
};

}  // namespace kestrel
