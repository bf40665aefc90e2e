#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace kestrel {

/// Why a switch ran.
enum class SwitchCause {
    Operator,      ///< "Force Switch Now"
    Api,           ///< a switch request on the HTTP API
    Schedule,      ///< a due event, or the start-up source when nothing plays
    Management,    ///< the management server's change poll
    Watchdog,      ///< a dead player's source handed back by the watchdog
    Failover,      ///< the backup source while a source failure is declared
    Recovery,      ///< the failed source again after its server answered
    Stall,         ///< the source on air again, its stream having stalled
    SourceDead,    ///< source 0 standing in while the wanted source cannot play
    Silence,       ///< the backup source while the source on air is silent
    SilenceEnded,  ///< the silent source again, its trial having found sound
    Web,           ///< the control room's switch in a browser
};

inline constexpr std::array<SwitchCause, 12> kSwitchCauses = {
    SwitchCause::Operator,   SwitchCause::Api,          SwitchCause::Schedule,
    SwitchCause::Management, SwitchCause::Watchdog,     SwitchCause::Failover,
    SwitchCause::Recovery,   SwitchCause::Stall,        SwitchCause::SourceDead,
    SwitchCause::Silence,    SwitchCause::SilenceEnded, SwitchCause::Web,
};

/// The cause's name in the journal, status.json and the metrics' labels.
constexpr std::string_view causeName(SwitchCause cause) {
    constexpr std::string_view names[] = {"operator",    "api",      "schedule",      "management",
                                          "watchdog",    "failover", "recovery",      "stall",
                                          "source_dead", "silence",  "silence_ended", "web"};
    return names[static_cast<int>(cause)];
}

/// Why an API connection was closed to admit a new one.
enum class ApiEviction {
    PerAddress,  ///< its address held the most connections one address may
    TableFull,   ///< the connection table was full
};

inline constexpr std::array<ApiEviction, 2> kApiEvictions = {ApiEviction::PerAddress,
                                                             ApiEviction::TableFull};

/// The reason's name in the metrics' labels.
constexpr std::string_view evictionName(ApiEviction reason) {
    return reason == ApiEviction::PerAddress ? "per_address" : "table_full";
}

/// The writes of one station file.
struct FileWrites {
    std::uint64_t failures = 0;
    std::string error;  ///< why the latest write failed; empty when it succeeded
};

/// What happened since start-up, for status.json and the metrics.
/// Times are seconds since 1970-01-01 UTC; 0 means never.
struct StationCounters {
    std::array<std::uint64_t, kSwitchCauses.size()> switches{};  ///< by SwitchCause
    std::uint64_t playerRestarts = 0;  ///< the watchdog found no player running
    std::uint64_t stalls = 0;          ///< the stream on air stalled
    std::uint64_t switchFailures = 0;  ///< switches whose new source never played
    std::uint64_t failovers = 0;       ///< source failures declared
    std::array<std::uint64_t, kApiEvictions.size()> apiEvictions{};  ///< by ApiEviction
    /// By file name, for every file the station has written whole.
    std::map<std::string, FileWrites> fileWrites;
    double startTime = 0;
    double metadataUpdated = 0;     ///< when the stream title last changed
    double lastSwitch = 0;          ///< when the latest switch ended
    double scheduleDownloaded = 0;  ///< when the management server last wrote the schedule

    std::uint64_t& switchesBy(SwitchCause cause) { return switches[static_cast<int>(cause)]; }
    std::uint64_t switchesBy(SwitchCause cause) const { return switches[static_cast<int>(cause)]; }
    std::uint64_t& apiEvictionsBy(ApiEviction reason) {
        return apiEvictions[static_cast<int>(reason)];
    }
    std::uint64_t apiEvictionsBy(ApiEviction reason) const {
        return apiEvictions[static_cast<int>(reason)];
    }
};

}  // namespace kestrel
