#pragma once

#include "station/station.h"

namespace kestrel {

/// Every 15 s: shows which player slots run and, when none runs although a
/// source should be on air, stops both slots, hands the source back through
/// WasPlaying and appends a "RESTART " line to "error.log". Otherwise, when
/// a source is pending (its last switch failed), tries it again. A process
/// check that cannot be made, or a switch that runs, leaves everything as it
/// was.
void tmrCheckMplayerOK(Station& station);

}  // namespace kestrel
