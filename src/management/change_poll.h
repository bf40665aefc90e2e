#pragma once

#include <string>
#include <string_view>

#include "station/station.h"

namespace kestrel {

/// Every minute when CheckForChanges is 1: asks the management server through
/// changePollFetcher whether to switch at once, and does when the answer begins
/// with a digit, once trimmed of blanks and line ends. Waits for the answer
/// and for what became of its order.
Task<> tmrCheckForChanges(Station& station);

/// `answer` without the blanks and line ends around it.
std::string trimmedAnswer(std::string_view answer);

/// True when a change-poll answer orders a switch: it begins with "0".."9".
bool ordersSwitch(const std::string& answer);

}  // namespace kestrel
