#include "platform/posix_command_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string_view>

#include "platform/posix_detached_start.h"
#include "platform/proc_processes.h"

namespace kestrel {
namespace {

std::string withoutExe(const std::string& name) {
    constexpr std::string_view exe = ".exe";
    if (name.size() > exe.size() && name.ends_with(exe))
        return name.substr(0, name.size() - exe.size());
    return name;
}

struct PlayerProgram {
    std::filesystem::path path;
    std::string argv0;
    bool isSystemPlayer = false;
};

// mplayer1.exe or mplayer1 in the station directory, then mplayer1 on PATH,
// then the system mplayer under the slot's name.
std::optional<PlayerProgram> findPlayer(const std::filesystem::path& workdir,
                                        const std::string& executable) {
    const std::string slotName = withoutExe(executable);
    for (const auto& name : {executable, slotName}) {
        const auto local = std::filesystem::absolute(workdir / name);
        if (isExecutableFile(local)) return PlayerProgram{local, name, false};
    }
    if (auto onPath = findOnPath(slotName)) return PlayerProgram{*onPath, slotName, false};
    if (auto system = findOnPath("mplayer")) return PlayerProgram{*system, slotName, true};
    return std::nullopt;
}

bool carryOut(const StartPlayer& command, const std::filesystem::path& workdir,
              const std::string& mark, PosixPlayerEnds* ends) {
    if (!isPlayerSlot(command.slot)) return false;
    // As with the shell redirection, the log is emptied even when no player can be found.
    const auto log = workdir / playerLogFile(command.slot);
    const int logFd =
        ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    if (logFd < 0) return false;
    bool started = false;
    if (const auto player = findPlayer(workdir, playerExecutable(command.slot))) {
        // Warnings such as "Cache empty" go to stderr: the stall watch reads them in the log.
        DetachedStart start{player->path, {player->argv0}, workdir, logFd, true};
        // The station's mark replaces any the station itself was started with.
        start.environment.push_back(std::string(kStationVariable) + "=" + mark);
        for (const auto& [name, value] : command.environment) {
            if (name != kStationVariable) start.environment.push_back(name + "=" + value);
        }
        if (player->isSystemPlayer) {
            // With stdin on /dev/null MPlayer's console controls would fill the
            // log with status lines; "Starting playback..." stays in the log
            // whatever a configuration file says about messages (a switch
            // waits for it); "--" keeps an address from reading as an option.
            start.args.insert(start.args.end(),
                              {"-noconsolecontrols", "-quiet", "-msglevel", "cplayer=4"});
            start.args.insert(start.args.end(), command.playerOptions.begin(),
                              command.playerOptions.end());
            start.args.insert(start.args.end(), {"--", command.address});
        } else {
            start.args.insert(start.args.end(), {command.address, "-quiet"});
        }
        pid_t pid = -1;
        started = startDetached(start, &pid);
        if (started && ends) ends->started(command.slot, pid);
    }
    ::close(logFd);
    return started;
}

bool carryOut(const StopPlayer& command, const std::filesystem::path&, const std::string& mark,
              PosixPlayerEnds*) {
    if (!isPlayerSlot(command.slot)) return false;
    const std::string executable = playerExecutable(command.slot);
    // A process may fork while its parent is being killed (MPlayer starts a
    // cache child), so look again until a pass finds nobody new.
    std::set<pid_t> signalled;
    for (int pass = 0; pass < 5; ++pass) {
        const auto pids = findStationProcesses(executable, mark);
        if (!pids) return pass > 0;
        bool foundNew = false;
        for (const pid_t pid : *pids) {
            if (pid == ::getpid() || !signalled.insert(pid).second) continue;
            ::kill(pid, SIGKILL);
            foundNew = true;
        }
        if (!foundNew) break;
    }
    return true;
}

bool carryOut(const DeleteFile& command, const std::filesystem::path& workdir, const std::string&,
              PosixPlayerEnds*) {
    if (!isPlainFileName(command.file)) return false;
    const auto file = workdir / command.file;
    return ::unlink(file.c_str()) == 0 || errno == ENOENT;
}

bool carryOut(const OpenEditor& command, const std::filesystem::path& workdir, const std::string&,
              PosixPlayerEnds*) {
    if (!isPlainFileName(command.file)) return false;
    const auto opener = findOnPath("xdg-open");
    if (!opener) return false;
    const auto file = std::filesystem::absolute(workdir / command.file);
    return startDetached(DetachedStart{*opener, {"xdg-open", file.string()}, workdir, -1});
}

}  // namespace

PosixCommandRunner::PosixCommandRunner(std::filesystem::path workdir, EventLoop* loop)
    : m_workdir(std::move(workdir)),
      m_mark(stationMark(m_workdir)),
      m_ends(loop ? std::make_unique<PosixPlayerEnds>(*loop) : nullptr) {}

bool PosixCommandRunner::run(const StationCommand& command, WindowStyle) {
    return std::visit(
        [this](const auto& c) { return carryOut(c, m_workdir, m_mark, m_ends.get()); }, command);
}

void PosixCommandRunner::onPlayerEnded(std::function<void(int slot)> ended) {
    if (m_ends) m_ends->setHandler(std::move(ended));
}

}  // namespace kestrel
