#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

/// Every minute when CheckForChanges is 1: asks the management server through
/// InetChanges whether to switch at once, and does when the answer begins
/// with a digit. Waits for the answer and for its switch (queued behind one
/// that is running).
Task<> tmrCheckForChanges(Station& station);

/// True when a change-poll answer orders a switch: it begins with "0".."9".
bool ordersSwitch(const std::string& answer);

}  // namespace kestrel
