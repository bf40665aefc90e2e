#pragma once

#include "station/station.h"

namespace kestrel {

/// Every second in automatic mode: decides which source must play and runs
/// the event switch when it differs from CurrentSource. In rising precedence:
/// the scheduled source (LastEvent's, else 9) when nothing plays, a restore
/// request in WasPlaying, source 0 while SilenceFlag is 1, and an event of
/// NextEvent (or of FollowingEvent, once NextEvent's minute is over) that is
/// due in this clock minute. A candidate that is the pending source (its last
/// switch failed) is left to the watchdog's retries while a source is on air.
/// While any switch runs it only refreshes the source labels and decides
/// again on a later tick; its own switch is awaited.
Task<> tmrCheckAndDoEvents(Station& station);

/// Every 100 ms: lblClock "HH:MM:SS" and lblDate "YYYY-MM-DD".
void tmrClockandEventCheck(Station& station);

}  // namespace kestrel
