#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every second in automatic mode: decides which source must play (start-up
/// source, restore request, fallback, due event) and switches when it differs.
void tmrCheckAndDoEvents(Station& station);

/// Every 100 ms: the clock and date labels.
void tmrClockandEventCheck(Station& station);

}  // namespace kestrel
