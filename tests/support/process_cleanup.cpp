#include "support/process_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace kestrel::test {

std::vector<pid_t> playersIn(const std::filesystem::path& stationDir) {
    std::vector<pid_t> pids;
    std::error_code error;
    const auto wanted = std::filesystem::weakly_canonical(stationDir, error);
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream commFile(entry.path() / "comm");
        std::string comm;
        std::getline(commFile, comm);
        // The system mplayer runs under the slot's name only as argv[0].
        std::ifstream cmdlineFile(entry.path() / "cmdline");
        std::string argv0;
        std::getline(cmdlineFile, argv0, '\0');
        argv0 = std::filesystem::path(argv0).filename().string();
        const auto isSlot = [](const std::string& n) { return n == "mplayer1" || n == "mplayer2"; };
        if (!isSlot(comm) && !isSlot(argv0)) continue;
        std::error_code linkError;
        const auto cwd = std::filesystem::read_symlink(entry.path() / "cwd", linkError);
        if (linkError || cwd != wanted) continue;
        pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

bool stillRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const auto nameEnd = line.rfind(')');  // the state follows the name in parentheses
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() && line[nameEnd + 2] != 'Z';
}

int killPlayersIn(const std::filesystem::path& stationDir) {
    int count = 0;
    for (pid_t pid : playersIn(stationDir)) {
        if (kill(pid, SIGKILL) == 0) ++count;
    }
    return count;
}

}  // namespace kestrel::test
