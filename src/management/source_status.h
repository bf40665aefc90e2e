#pragma once

#include "station/station.h"

namespace kestrel {

/// Reports all ten sources and the active one to the management server: one
/// request per item 0..9 through Inet1. Does nothing when ManagementUpdate <= 0.
void SendSourceStatus(Station& station);

}  // namespace kestrel
