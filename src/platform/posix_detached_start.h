#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// A program to start that must not depend on the station: it runs in its own
/// session in `workdir`, with stdin on /dev/null, stdout on `stdoutFd` (or
/// /dev/null when -1), stderr on /dev/null or with stdout, and no other
/// descriptor of the station.
struct DetachedStart {
    std::filesystem::path program;  ///< absolute path given to execve
    std::vector<std::string> args;  ///< argv, argv[0] included
    std::filesystem::path workdir;
    int stdoutFd = -1;
    bool stderrToStdout = false;
    /// "NAME=VALUE" entries added to (or replacing those of) the station's environment.
    std::vector<std::string> environment;
};

/// Starts the program through a double fork, so it is never this process's
/// child and can never linger as a zombie here. Waits only until the program
/// has been executed; false when it could not be (the reason is not kept).
/// With `startedPid`, the program's process id goes there. Safe in a process
/// with other threads: the forked children make only async-signal-safe calls.
bool startDetached(const DetachedStart& start, pid_t* startedPid = nullptr);

/// True for a regular file this user may execute.
bool isExecutableFile(const std::filesystem::path& file);

/// The first executable `name` in an absolute directory of $PATH.
std::optional<std::filesystem::path> findOnPath(std::string_view name);

}  // namespace kestrel
