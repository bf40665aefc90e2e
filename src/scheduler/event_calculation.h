#pragma once

#include <string>
#include <string_view>

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

/// Every 10 s: reads "sourceevents.ini" afresh, works out LastEvent (today's
/// latest passed event) and NextEvent (the next one, today or else first of
/// tomorrow) and shows both. During the clock minute of NextEvent both stay as
/// they are. A missing file leaves both events unchanged; the captions are
/// refreshed on every run.
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
