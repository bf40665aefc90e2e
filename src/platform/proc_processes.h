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

/// The variable in whose value a station marks every player it starts: the
/// station directory's canonical path (`stationMark`).
inline constexpr std::string_view kStationVariable = "KESTRELFIELD_STATION";

/// What a station in `stationDir` marks its players with.
std::string stationMark(const std::filesystem::path& stationDir);

/// Whether process `pid` belongs to the station marked `mark`: its environment
/// carries that mark, or it carries no station's mark at all (a player started
/// before stations marked theirs) and runs in that station's directory.
/// False when neither can be read (another user's process, one that ended).
bool startedByStation(pid_t pid, std::string_view mark,
                      const std::filesystem::path& procRoot = "/proc");

/// True when `candidate` (a process's comm or the base name of its argv[0])
/// names the executable `executableName`: equal without regard to case, with
/// or without a trailing ".exe" on either side. An empty name matches nothing.
bool isProcessName(std::string_view candidate, std::string_view executableName);

/// The ids of the live processes of this user (same real uid, not zombies)
/// that have the name `executableName` and belong to the station marked
/// `mark` (startedByStation). nullopt when `procRoot` cannot be read or lists
/// no process at all, i.e. when the question cannot be answered. Reads a few
/// small files per process; never blocks for long.
std::optional<std::vector<pid_t>> findStationProcesses(
    std::string_view executableName, std::string_view mark,
    const std::filesystem::path& procRoot = "/proc");

/// Walks /proc for one station's processes of several names at once. A
/// process that had none of the names, or was another station's or user's,
/// is not looked at again for 10 s (then its comm is read, and its argv[0]
/// too if the comm has changed, as an exec changes it): most of a walk is
/// then the listing of /proc alone.
class ProcessWalk {
public:
    explicit ProcessWalk(std::string mark, std::filesystem::path procRoot = "/proc");

    /// For each of `names`, the ids of the station's live processes of this
    /// user that have that name, as findStationProcesses; nullopt as there.
    std::optional<std::vector<std::vector<pid_t>>> find(std::span<const std::string> names);

    /// Looks at every process again on the next walk: one may have been
    /// started under an id that a process passed over had before.
    void forgetPassedOver() { m_passedOver.clear(); }

private:
    struct PassedOver {
        std::string comm;
        std::chrono::steady_clock::time_point readAt;
    };
    std::string m_mark;
    std::filesystem::path m_procRoot;
    std::vector<std::string> m_names;  ///< what m_passedOver was judged by
    std::unordered_map<pid_t, PassedOver> m_passedOver;
};

/// The `rchar` count of /proc/PID/io: bytes the process has read through
/// read-like calls. nullopt when the file cannot be read (the process ended,
/// or belongs to someone else).
std::optional<std::uint64_t> readCharacters(pid_t pid,
                                            const std::filesystem::path& procRoot = "/proc");

/// Whether /proc still lists the process.
bool processExists(pid_t pid, const std::filesystem::path& procRoot = "/proc");

}  // namespace kestrel
