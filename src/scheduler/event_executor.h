#pragma once

#include "station/station.h"

namespace kestrel {

/// Every second in automatic mode: decides which source must play and runs
/// the event switch when it differs from CurrentSource. In rising precedence:
/// the scheduled source (LastEvent's, else 9) when nothing plays, a restore
/// request in WasPlaying, source 0 while SilenceFlag is 1, and the latest
/// event (LastEvent, NextEvent or FollowingEvent) that came due after
/// `EventsOwedAfter`. That event fires once: on its second, or as soon as the
/// executor can act when a switch held the turn then; `EventsOwedAfter` then
/// becomes its moment. An operator, API or management switch asked for after
/// an event's second replaces it. A candidate that is the
/// pending source (its last switch failed) is left to the retries while a
/// source is on air. While any switch runs it only refreshes the source
/// labels and decides again on a later tick; its own switch is awaited.
Task<> tmrCheckAndDoEvents(Station& station);

/// No event that came due before now is owed (start-up, back to AUTOMATIC).
void owedEventsFromNow(Station& station);

/// Every 100 ms: lblClock "HH:MM:SS" and lblDate "YYYY-MM-DD"; runs
/// tmrCheckAndDoEvents at once when an event has come due.
void tmrClockandEventCheck(Station& station);

}  // namespace kestrel
