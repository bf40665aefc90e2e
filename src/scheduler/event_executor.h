#pragma once

#include "station/station.h"

namespace kestrel {

/// Every second in automatic mode: records what the schedule wants on air
/// (ScheduledWish). On its first look that is the source of today's last
/// passed event, else 9, older than any order. Then the latest event
/// (LastEvent, NextEvent or one of SoonEvents) that came due after
/// `EventsOwedAfter` becomes the wish, with its moment; `EventsOwedAfter`
/// becomes that moment, so each event fires once, also when it came due
/// while the executor was stopped or late. An order asked for after an
/// event's second is newer and wins (see wantedSource). A new event ends a
/// silence hold. Refreshes the source labels.
void tmrCheckAndDoEvents(Station& station);

/// No event that came due before now is owed (start-up, back to AUTOMATIC).
void owedEventsFromNow(Station& station);

/// Every 100 ms: lblClock "HH:MM:SS" and lblDate "YYYY-MM-DD"; runs
/// tmrCheckAndDoEvents at once when an event has come due.
void tmrClockandEventCheck(Station& station);

}  // namespace kestrel
