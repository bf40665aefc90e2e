#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "station/station.h"

namespace kestrel {

inline constexpr const char* kScheduleFile = "sourceevents.ini";
inline constexpr std::size_t kEventLineLength = 10;

/// One schedule line as the station reads it.
struct EventLine {
    int weekday = 0;    ///< leading digits of character 1; 1 = Sunday .. 7 = Saturday
    int time = 0;       ///< leading digits of characters 3-8, HHMMSS
    char source = ' ';  ///< character 10, not converted
};

/// The schedule's line filter: a line of exactly 10 characters, not a comment
/// (";"), with a blank second character, is an event; every other line is
/// skipped and gives false.
bool parseEventLine(std::string_view line, EventLine& event);

/// Whether an HHMMSS time value is a time of day that the clock reaches.
inline bool isTimeOfDay(int time) {
    return time >= 0 && time / 10000 < 24 && time / 100 % 100 < 60 && time % 100 < 60;
}

/// An event of the schedule that fires, and where it stands in the file.
struct WeekEvent {
    int weekday = 1;  ///< 1 = Sunday .. 7 = Saturday
    int time = 0;     ///< HHMMSS
    int source = 0;   ///< the source it switches to (0 for a character that is no digit)
    std::size_t line = 0;
};

/// The events of the schedule bytes `text` that fire, in the order of the
/// week (Sunday first): lines the filter passes, with a weekday 1 to 7 and a
/// time of day; of several at one day and second, the first in the file.
std::vector<WeekEvent> weekEvents(std::string_view text);

/// Every 10 s: reads "sourceevents.ini" afresh, works out LastEvent (today's
/// latest passed event) and NextEvent (the next one, today or else first of
/// tomorrow) and shows both, and notes every event due within the next 12 s
/// (SoonEvents). During the clock minute of NextEvent LastEvent and NextEvent
/// stay as they are. A missing file leaves the events unchanged; the captions
/// are refreshed on every run.
void tmrLoadEventsAndCalculate(Station& station);

/// The caption of lblNextEvent for an event text:
/// "Next switch on Mon at 083000 to source 3".
std::string nextEventCaption(std::string_view eventText);

/// "Sun" .. "Sat" for "1" .. "7" ("Tus" for Tuesday), "Error" for anything else.
const char* eventDayName(char weekdayDigit);

/// The value of the leading decimal digits of `text`; 0 when it does not begin
/// with a digit.
int leadingNumber(std::string_view text);

/// Characters [first, first + count) of `text`, 1-based; shorter or empty when
/// the text ends before them.
std::string_view textPart(std::string_view text, std::size_t first, std::size_t count);

}  // namespace kestrel
