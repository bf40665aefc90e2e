#pragma once

#include <string>

#include "station/station_state.h"

namespace kestrel {

/// base URL + "?key=" + ManagementKey + "&switcher=" + ManagementSwitcher,
/// values inserted verbatim.
inline std::string managementQuery(const std::string& baseUrl, const StationState& state) {
    return baseUrl + "?key=" + state.ManagementKey + "&switcher=" + state.ManagementSwitcher;
}

}  // namespace kestrel
