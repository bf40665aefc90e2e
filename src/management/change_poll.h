#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

/// Every minute when CheckForChanges is 1: asks the management server whether
/// to switch at once, and does when the answer begins with a digit. Blocks
/// for the fetch on Inet1 and, when switching, for the switch's pause.
void tmrCheckForChanges(Station& station);

/// True when a change-poll answer orders a switch: it begins with "0".."9".
bool ordersSwitch(const std::string& answer);

}  // namespace kestrel
