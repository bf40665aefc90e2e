#include "platform/proc_process_table.h"

#include "platform/proc_processes.h"
#include "platform/socket_intake.h"

namespace kestrel {

ProcProcessTable::ProcProcessTable(std::filesystem::path procRoot)
    : m_procRoot(std::move(procRoot)) {}

ProcessCheck ProcProcessTable::check(const std::string& executableName) {
    const auto pids = findProcessesByName(executableName, m_procRoot);
    if (!pids) return ProcessCheck::Unknown;
    return pids->empty() ? ProcessCheck::NotRunning : ProcessCheck::Running;
}

std::optional<std::uint64_t> ProcProcessTable::bytesRead(const std::string& executableName) {
    const auto pids = findProcessesByName(executableName, m_procRoot);
    if (!pids || pids->empty()) return std::nullopt;
    std::uint64_t sum = 0;
    std::vector<std::uint64_t> sockets;
    for (const pid_t pid : *pids) {
        // A process that ended meanwhile adds nothing; one whose count cannot
        // be read makes the sum unknown rather than too small.
        const auto read = readCharacters(pid, m_procRoot);
        if (!read && processExists(pid, m_procRoot)) return std::nullopt;
        sum += read.value_or(0);
        const auto held = socketInodes(pid, m_procRoot);
        sockets.insert(sockets.end(), held.begin(), held.end());
    }
    const auto received = tcpBytesReceived(sockets, &m_sockets[executableName]);
    if (!received) return std::nullopt;
    return sum + *received;
}

}  // namespace kestrel
