#include "platform/proc_process_table.h"

#include "platform/proc_processes.h"

namespace kestrel {

ProcProcessTable::ProcProcessTable(std::filesystem::path procRoot)
    : m_procRoot(std::move(procRoot)) {}

ProcessCheck ProcProcessTable::check(const std::string& executableName) {
    const auto pids = findProcessesByName(executableName, m_procRoot);
    if (!pids) return ProcessCheck::Unknown;
    return pids->empty() ? ProcessCheck::NotRunning : ProcessCheck::Running;
}

}  // namespace kestrel
