#pragma once

namespace kestrel {

/// Names of the main window's timers.
namespace timer {
inline constexpr const char* tmrCounter = "tmrCounter";
inline constexpr const char* tmrUpdateDisplay = "tmrUpdateDisplay";
inline constexpr const char* tmrClockandEventCheck = "tmrClockandEventCheck";
inline constexpr const char* tmrGetMetadata = "tmrGetMetadata";
inline constexpr const char* tmrLoadEventsAndCalculate = "tmrLoadEventsAndCalculate";
inline constexpr const char* tmrCheckAndDoEvents = "tmrCheckAndDoEvents";
inline constexpr const char* tmrManagementDownload = "tmrManagementDownload";
inline constexpr const char* tmrCheckForChanges = "tmrCheckForChanges";
inline constexpr const char* tmrCheckMplayerOK = "tmrCheckMplayerOK";
inline constexpr const char* tmrCheckPlayers = "tmrCheckPlayers";
inline constexpr const char* tmrAirUpdate = "tmrAirUpdate";
inline constexpr const char* tmrWeather = "tmrWeather";
inline constexpr const char* tmrSourceCheck = "tmrSourceCheck";
inline constexpr const char* tmrReadLevels = "tmrReadLevels";
}  // namespace timer

}  // namespace kestrel
