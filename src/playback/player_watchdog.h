#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every 15 s: shows which player slots run and, when none runs although a
/// source should be on air, stops both slots, hands the source back through
/// WasPlaying and appends a "RESTART " line to "error.log".
void tmrCheckMplayerOK(Station& station);

}  // namespace kestrel
