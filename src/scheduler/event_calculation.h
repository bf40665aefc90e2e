#pragma once

#include <string>
#include <string_view>

#include "station/station.h"

namespace kestrel {

inline constexpr const char* kScheduleFile = "sourceevents.ini";

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
