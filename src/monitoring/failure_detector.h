#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every 15 s when CheckSource is "1": tests the on-air source's server;
/// two failures in a row declare a failure (fallback to source 0), the first
/// success afterwards recovers the failed source.
void tmrSourceCheck(Station& station);

}  // namespace kestrel
