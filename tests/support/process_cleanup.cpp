#include "support/process_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/proc_processes.h"

namespace kestrel::test {

std::vector<pid_t> playersIn(const std::filesystem::path& stationDir) {
    const std::string mark = stationMark(stationDir);
    std::vector<pid_t> pids;
    for (const char* slot : {"mplayer1", "mplayer2"}) {
        const auto found = findStationProcesses(slot, mark);
        if (found) pids.insert(pids.end(), found->begin(), found->end());
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
