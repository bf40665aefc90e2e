#pragma once

#include <string>
#include <string_view>

#include "station/station.h"

namespace kestrel {

inline constexpr std::string_view kRestartEntry = "RESTART";
inline constexpr std::string_view kSwitchFailedEntry = "SWITCH FAILED";
inline constexpr std::string_view kStallEntry = "STALL";
inline constexpr std::string_view kSilenceEntry = "SILENCE";
inline constexpr std::string_view kOutputFailedEntry = "OUTPUT FAILED";

/// One line of "error.log": `what`, the date MM-DD-YYYY, the time HH:MM:SS,
/// " SOURCE:" and the source number, ended by CR LF.
std::string errorLogLine(std::string_view what, const LocalDateTime& time, int source);

/// Appends `what`'s line for now to "error.log"; a log that cannot be written
/// loses the entry, nothing else.
void appendToErrorLog(Station& station, std::string_view what, int source);

/// The same, unless a line for `source` was written in the last 15 s: a
/// source tried every few seconds keeps the log's rhythm.
void appendToErrorLogSpaced(Station& station, std::string_view what, std::int16_t source);

}  // namespace kestrel
