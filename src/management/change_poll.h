#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every minute when CheckForChanges is 1: asks the management server whether
/// to switch at once, and does when the answer begins with a digit.
void tmrCheckForChanges(Station& station);

}  // namespace kestrel
