#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/command_runner.h"
#include "platform/event_loop.h"
#include "platform/posix_player_ends.h"

namespace kestrel {

/// Carries out the station's commands without a shell: player starts
/// (stdout into the slot's log, own session, stdin from /dev/null, never a
/// zombie, marked as this station's in kStationVariable), player stops
/// (SIGKILL to every process of the slot's name, user and station), file
/// deletion in the working directory, and the editor (xdg-open). A slot other
/// than 1 or 2, or a file name with a path, runs nothing.
class PosixCommandRunner final : public CommandRunner {
public:
    /// `workdir` is the station directory. With an event loop, the end of
    /// each player it started is told at once.
    explicit PosixCommandRunner(std::filesystem::path workdir, EventLoop* loop = nullptr);
    bool run(const StationCommand& command, WindowStyle style) override;
    void onPlayerEnded(std::function<void(int slot)> ended) override;

private:
    std::filesystem::path m_workdir;
    std::string m_mark;
    std::unique_ptr<PosixPlayerEnds> m_ends;
};

}  // namespace kestrel
