#include "scheduler/event_executor.h"

#include <optional>

#include "playback/switch_procedure.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"
#include "station/time_format.h"

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

bool eventIsDue(const std::string& event, const LocalDateTime& now) {
    if (event.empty() || event.front() != static_cast<char>('0' + now.weekday)) {
        return false;
    }
    const int eventHhmm = leadingNumber(textPart(event, 3, 4));
    const int eventSecond = leadingNumber(textPart(event, 7, 2));
    return eventHhmm == now.hour * 100 + now.minute && now.second >= eventSecond;
}

// The event whose source must play now, if any: NextEvent, or the event
// after its frozen minute when that one falls due before the freeze ends.
const std::string* dueEvent(const StationState& state, const LocalDateTime& now) {
    if (eventIsDue(state.NextEvent, now)) return &state.NextEvent;
    if (eventIsDue(state.FollowingEvent, now)) return &state.FollowingEvent;
    return nullptr;
}

void showCurrentSource(Station& station) {
    const std::string shown = std::to_string(station.state.CurrentSource);
    station.display.lblSourceNumber.caption = shown;
    station.display.lblSourceDisp.caption = shown;
}

}  // namespace

Task<> tmrCheckAndDoEvents(Station& station) {
    auto& state = station.state;
    if (station.switching.taken()) {
        showCurrentSource(station);
        co_return;
    }
    std::int16_t candidate = state.CurrentSource;
    SwitchCause cause = SwitchCause::Schedule;
    const auto scheduled = scheduledSource(state.LastEvent);
    if (candidate == -1) candidate = scheduled.value_or(9);
    if (state.WasPlaying != -1) {
        candidate = state.WasPlaying;
        state.WasPlaying = -1;
        cause = handBackCause(station);
    }
    if (state.SilenceFlag == 1) {
        // The failed source, for the recovery; source 0 itself is no source to return to.
        if (state.CurrentSource != 0) state.WasPlaying = state.CurrentSource;
        candidate = 0;
        cause = SwitchCause::Failover;
    }
    if (const std::string* due = dueEvent(state, station.now())) {
        candidate = digitValue(textPart(*due, 10, 1));
        cause = SwitchCause::Schedule;
    }
    // While a source is on air, a pending one is tried again on the watchdog's
    // 15 s rhythm, not on every tick.
    const bool leftToRetries = candidate == state.PendingSource && state.CurrentSource != -1;
    if (candidate != state.CurrentSource && !leftToRetries) {
        co_await eventSwitch(station, candidate, cause);
    }
    showCurrentSource(station);
}

void tmrClockandEventCheck(Station& station) {
    const LocalDateTime now = station.now();
    station.display.lblClock.caption = formatTime(now);
    station.display.lblDate.caption = formatDate(now);
}

}  // namespace kestrel
