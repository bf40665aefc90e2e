#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

inline constexpr const char* kJsonContentType = "application/json";

/// status.json: every fact the main window shows, the pending source,
/// counts since start-up, the start time and the version, as UTF-8 JSON.
/// Member names are stable; the README lists them.
std::string statusJson(const Station& station);

/// One line for systemd's status: the source on air by number and name, and
/// the pending source or a declared failure when there is one.
std::string onAirSummary(const Station& station);

/// Whether the watchdog's last check found player slot 1 or 2 running.
bool playerRunning(const Station& station, int slot);

}  // namespace kestrel
