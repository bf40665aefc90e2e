#include "platform/proc_process_table.h"

#include <algorithm>

#include "platform/proc_processes.h"
#include "platform/socket_intake.h"

namespace kestrel {

namespace {

constexpr auto kWalkLasts = std::chrono::milliseconds(50);

}  // namespace

ProcProcessTable::ProcProcessTable(const std::filesystem::path& stationDir,
                                   std::filesystem::path procRoot)
    : m_procRoot(procRoot), m_walk(stationMark(stationDir), std::move(procRoot)) {}

void ProcProcessTable::forget() {
    m_walked.reset();
    m_walk.forgetPassedOver();
}

const std::optional<std::vector<pid_t>>& ProcProcessTable::processesNamed(
    const std::string& executableName) {
    auto index = static_cast<std::size_t>(
        std::find(m_names.begin(), m_names.end(), executableName) - m_names.begin());
    if (index == m_names.size()) {
        m_names.push_back(executableName);
        m_walked.reset();
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_walked || now - m_walked->at >= kWalkLasts) {
        m_walked = Walked{now, {}};
        if (auto found = m_walk.find(m_names)) {
            m_walked->pids.assign(found->begin(), found->end());
        } else {
            m_walked->pids.assign(m_names.size(), std::nullopt);
        }
    }
    return m_walked->pids[index];
}

ProcessCheck ProcProcessTable::check(const std::string& executableName) {
    const auto& pids = processesNamed(executableName);
    if (!pids) return ProcessCheck::Unknown;
    return pids->empty() ? ProcessCheck::NotRunning : ProcessCheck::Running;
}

std::optional<std::uint64_t> ProcProcessTable::bytesRead(const std::string& executableName) {
    const auto& pids = processesNamed(executableName);
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
