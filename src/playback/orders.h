#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

// Orders of a person or a server: each records itself as the latest order
// (the wish, when newer than the schedule's event) and waits for what the
// reconciler did with it: true once its source is on air, false when its
// switch failed or a newer wish replaced it first. Nothing waits for a turn:
// a newer order replaces an older one that has not been carried out.

/// "Force Switch Now": the first character of the selector's text, read at
/// once. Resets the failure detector (SilenceFlag, LinkFailCount) and a
/// pending restart (WasPlaying). The source on air is started again.
Task<bool> cmdForceSwitch_Click(Station& station);

/// The API's switch request: the operator's order, with the request's key.
Task<bool> apiSwitch(Station& station, std::string key);

/// The control room's switch request: the API's, with the web as cause.
Task<bool> webSwitch(Station& station, std::string key);

/// The management change poll's order: the whole answer is the key. A key
/// that names no source of the list, or the source on air while its player
/// runs, orders nothing and writes a journal line; true when the source is
/// on air.
Task<bool> remoteSwitch(Station& station, std::string answer);

}  // namespace kestrel
