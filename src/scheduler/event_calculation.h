#pragma once

#include "controller/station.h"

namespace kestrel {

inline constexpr const char* kScheduleFile = "sourceevents.ini";

/// Every 10 s: reads "sourceevents.ini" afresh, works out LastEvent and
/// NextEvent and shows both.
void tmrLoadEventsAndCalculate(Station& station);

}  // namespace kestrel
