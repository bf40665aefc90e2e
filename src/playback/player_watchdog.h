#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

/// Every 15 s: shows which player slots run and, when none runs although a
/// source should be on air, stops both slots, hands the source back through
/// WasPlaying and appends a "RESTART " line to "error.log". A process check
/// that cannot be made leaves everything as it was.
void tmrCheckMplayerOK(Station& station);

/// "RESTART MM-DD-YYYY HH:MM:SS SOURCE:n" with CR LF.
std::string restartLogLine(const LocalDateTime& time, int source);

}  // namespace kestrel
