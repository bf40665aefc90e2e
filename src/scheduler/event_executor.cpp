#include "scheduler/event_executor.h"

#include <optional>

#include "station/time_format.h"
#include "playback/switch_procedure.h"
#include "scheduler/event_calculation.h"

namespace kestrel {
namespace {

// The value of one character read as a number: its digit, or 0.
std::int16_t digitValue(std::string_view character) {
    return static_cast<std::int16_t>(leadingNumber(character.substr(0, 1)));
}

std::optional<std::int16_t> scheduledSource(const std::string& lastEvent) {
    if (lastEvent.empty()) return std::nullopt;
    const char last = lastEvent.back();
    if (last < '0' || last > '9') return std::nullopt;
    return static_cast<std::int16_t>(last - '0');
}

bool eventIsDue(const std::string& nextEvent, const LocalDateTime& now) {
    if (nextEvent.empty() || nextEvent.front() != static_cast<char>('0' + now.weekday)) {
        return false;
    }
    const int eventHhmm = leadingNumber(textPart(nextEvent, 3, 4));
    const int eventSecond = leadingNumber(textPart(nextEvent, 7, 2));
    return eventHhmm == now.hour * 100 + now.minute && now.second >= eventSecond;
}

}  // namespace

void tmrCheckAndDoEvents(Station& station) {
    auto& state = station.state;
    std::int16_t candidate = state.CurrentSource;
    const auto scheduled = scheduledSource(state.LastEvent);
    if (candidate == -1) candidate = scheduled.value_or(9);
    if (state.WasPlaying != -1) {
        candidate = state.WasPlaying;
        state.WasPlaying = -1;
    }
    if (state.SilenceFlag == 1) {
        state.WasPlaying = state.CurrentSource;
        candidate = 0;
    }
    if (eventIsDue(state.NextEvent, station.now())) {
        candidate = digitValue(textPart(state.NextEvent, 10, 1));
    }
    if (candidate != state.CurrentSource) eventSwitch(station, candidate);

    const std::string shown = std::to_string(state.CurrentSource);
    station.display.lblSourceNumber.caption = shown;
    station.display.lblSourceDisp.caption = shown;
}

void tmrClockandEventCheck(Station& station) {
    const LocalDateTime now = station.now();
    station.display.lblClock.caption = formatTime(now);
    station.display.lblDate.caption = formatDate(now);
}

}  // namespace kestrel
