#pragma once

#include <filesystem>

#include "platform/command_runner.h"

namespace kestrel {

/// Carries out the station's commands without a shell: player starts
/// (stdout into the slot's log, own session, stdin from /dev/null, never a
/// zombie, marked as this station's in kStationVariable), player stops
/// (SIGKILL to every process of the slot's name, user and station), file
/// deletion in the working directory, and the editor (xdg-open). A slot other
/// than 1 or 2, or a file name with a path, runs nothing.
class PosixCommandRunner final : public CommandRunner {
public:
    /// `workdir` is the station directory.
    explicit PosixCommandRunner(std::filesystem::path workdir);
    bool run(const StationCommand& command, WindowStyle style) override;

private:
    std::filesystem::path m_workdir;
    std::string m_mark;
};

}  // namespace kestrel
