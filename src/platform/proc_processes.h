#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrel {

/// True when `candidate` (a process's comm or the base name of its argv[0])
/// names the executable `executableName`: equal without regard to case, with
/// or without a trailing ".exe" on either side. An empty name matches nothing.
bool isProcessName(std::string_view candidate, std::string_view executableName);

/// The ids of the live processes of this user (same real uid, not zombies)
/// that have the name `executableName`. nullopt when `procRoot` cannot be
/// read or lists no process at all, i.e. when the question cannot be answered.
/// Reads a few small files per process; never blocks for long.
std::optional<std::vector<pid_t>> findProcessesByName(
    std::string_view executableName, const std::filesystem::path& procRoot = "/proc");

/// Walks /proc for the processes of several names at once. Between walks it
/// remembers the processes that had none of the names, by id and comm, and
/// reads the argv[0] only of those that are new or have changed their comm
/// (an exec does): most of a walk is then one small read per process.
class ProcessWalk {
public:
    explicit ProcessWalk(std::filesystem::path procRoot = "/proc");

    /// For each of `names`, the ids of the live processes of this user that
    /// have that name, as findProcessesByName; nullopt as there.
    std::optional<std::vector<std::vector<pid_t>>> find(std::span<const std::string> names);

private:
    std::filesystem::path m_procRoot;
    std::vector<std::string> m_names;                  ///< what m_nameless was judged by
    std::unordered_map<pid_t, std::string> m_nameless;  ///< comm, by id
};

/// The `rchar` count of /proc/PID/io: bytes the process has read through
/// read-like calls. nullopt when the file cannot be read (the process ended,
/// or belongs to someone else).
std::optional<std::uint64_t> readCharacters(pid_t pid,
                                            const std::filesystem::path& procRoot = "/proc");

/// Whether /proc still lists the process.
bool processExists(pid_t pid, const std::filesystem::path& procRoot = "/proc");

}  // namespace kestrel
