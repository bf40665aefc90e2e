#pragma once

#include <string_view>

#include "station/station.h"

namespace kestrel {

/// The mode button's effect, from the window or a control room page:
/// AUTOMATIC (green) runs the event executor, MANUAL (red) stops it and with
/// it the schedule's switches and the failover to source 0. Journals the
/// change with its origin ("operator", "web") and the client's address.
/// Asking for the mode the station is in changes nothing.
void setMode(Station& station, bool automatic, std::string_view origin,
             std::string_view client = {});

}  // namespace kestrel
