#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every 5 s when TuneIn AIR is on: reports a changed artist and title.
void tmrAirUpdate(Station& station);

}  // namespace kestrel
