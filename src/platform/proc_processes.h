#pragma once

#include <sys/types.h>

#include <chrono>
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

/// Walks /proc for the processes of several names at once. A process that
/// had none of the names is not looked at again for 10 s (then its comm is
/// read, and its argv[0] too if the comm has changed, as an exec changes it):
/// most of a walk is then the listing of /proc alone.
class ProcessWalk {
public:
    explicit ProcessWalk(std::filesystem::path procRoot = "/proc");

    /// For each of `names`, the ids of the live processes of this user that
    /// have that name, as findProcessesByName; nullopt as there.
    std::optional<std::vector<std::vector<pid_t>>> find(std::span<const std::string> names);

    /// Looks at every process again on the next walk: one may have been
    /// started under an id that a process without the names had before.
    void forgetNameless() { m_nameless.clear(); }

private:
    struct Nameless {
        std::string comm;
        std::chrono::steady_clock::time_point readAt;
    };
    std::filesystem::path m_procRoot;
    std::vector<std::string> m_names;  ///< what m_nameless was judged by
    std::unordered_map<pid_t, Nameless> m_nameless;
};

/// The `rchar` count of /proc/PID/io: bytes the process has read through
/// read-like calls. nullopt when the file cannot be read (the process ended,
/// or belongs to someone else).
std::optional<std::uint64_t> readCharacters(pid_t pid,
                                            const std::filesystem::path& procRoot = "/proc");

/// Whether /proc still lists the process.
bool processExists(pid_t pid, const std::filesystem::path& procRoot = "/proc");

}  // namespace kestrel
