#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "playback/source_list.h"
#include "scheduler/event_calculation.h"

namespace kestrel {

/// A coordinate as an SVG attribute takes it: one decimal, none when whole.
std::string svgNumber(double value);

/// The colour a source is drawn in, in the week and the look back alike.
const char* sourceColour(int source);
/// A colour that reads on sourceColour(source).
const char* sourceTextColour(int source);

/// One stretch of the week during which a source plays.
struct WeekStretch {
    int weekday = 1;  ///< 1 = Sunday .. 7 = Saturday
    int from = 0;     ///< seconds since midnight
    int to = 0;       ///< seconds since midnight, at most 86400
    int source = 0;
    WeekEvent event;  ///< the event that put the source on air
};

/// What plays when, as the events say: each event's source from its second
/// to the next event's, the last of the week carried on into the first day,
/// cut at midnights. Empty without events.
std::vector<WeekStretch> weekStretches(const std::vector<WeekEvent>& events);

/// The first event after `now` (the week wraps); nullopt without events.
std::optional<WeekEvent> nextWeekEvent(const std::vector<WeekEvent>& events,
                                       const LocalDateTime& now);

/// The week as an SVG picture: a row per day (Sunday first) across the 24
/// hours, each stretch in its source's colour with the source's number and
/// name in its tooltip, the current moment marked in today's row and the
/// next event ringed.
std::string weekPicture(const std::vector<WeekEvent>& events, const SourceTable& sources,
                        const LocalDateTime& now);

/// "Mon 08:30:00" for an event.
std::string eventMoment(const WeekEvent& event);

}  // namespace kestrel
