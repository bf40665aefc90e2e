#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every second when the weather is on: the countdown, and every 1801 ticks a
/// request whose answer becomes the weather sentence.
void tmrWeather(Station& station);

}  // namespace kestrel
