#pragma once

#include <filesystem>

#include "platform/command_runner.h"

namespace kestrel {

/// Carries out the station's command texts without a shell: player starts
/// (stdout into the slot's log, own session, stdin from /dev/null, never a
/// zombie), kill by name (SIGKILL to every process of that name and user),
/// file deletion in the working directory, and the editor (xdg-open). Any
/// other text is refused without running anything.
class PosixCommandRunner final : public CommandRunner {
public:
    explicit PosixCommandRunner(std::filesystem::path workdir);
    bool run(const std::string& commandLine, WindowStyle style) override;

private:
    std::filesystem::path m_workdir;
};

}  // namespace kestrel
