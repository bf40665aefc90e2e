#include "scheduler/event_executor.h"

#include <optional>

#include "playback/switch_procedure.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"
#include "station/time_format.h"
#include "station/timer_names.h"

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

constexpr std::int64_t kSecondsPerWeek = 7 * 86400;

// The moment (local seconds) an event text last came due at or before
// `now`; nullopt for a text that names no day and time.
std::optional<std::int64_t> lastDueMoment(const std::string& event, const LocalDateTime& now) {
    if (event.size() < kEventLineLength) return std::nullopt;
    const int weekday = event.front() - '0';
    const int hhmmss = leadingNumber(textPart(event, 3, 6));
    const int hour = hhmmss / 10000, minute = hhmmss / 100 % 100, second = hhmmss % 100;
    if (weekday < 1 || weekday > 7 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const std::int64_t eventInWeek = (weekday - 1) * 86400 + hour * 3600 + minute * 60 + second;
    const std::int64_t nowInWeek = (now.weekday - 1) * 86400 + now.secondsSinceMidnight();
    const std::int64_t age =
        ((nowInWeek - eventInWeek) % kSecondsPerWeek + kSecondsPerWeek) % kSecondsPerWeek;
    return localSeconds(now) - age;
}

struct OwedEvent {
    const std::string* text;
    std::int64_t moment;
};

// The latest event that came due after EventsOwedAfter: NextEvent, the one
// that follows it, or LastEvent, which holds an event of a minute gone by.
std::optional<OwedEvent> owedEvent(const StationState& state, const LocalDateTime& now) {
    std::optional<OwedEvent> owed;
    for (const std::string* event : {&state.LastEvent, &state.NextEvent, &state.FollowingEvent}) {
        const auto moment = lastDueMoment(*event, now);
        if (moment && *moment > state.EventsOwedAfter && (!owed || *moment > owed->moment))
            owed = OwedEvent{event, *moment};
    }
    return owed;
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
    const LocalDateTime now = station.now();
    // The first look owes the events of its own second only.
    if (state.EventsOwedAfter == 0) state.EventsOwedAfter = localSeconds(now) - 1;
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
    // Each event fires once, also when it came due while a switch held the turn.
    if (const auto owed = owedEvent(state, now)) {
        candidate = digitValue(textPart(*owed->text, 10, 1));
        cause = SwitchCause::Schedule;
        state.EventsOwedAfter = owed->moment;
        state.WasPlaying = -1;  // the event says what plays now
    }
    // While a source is on air, a pending one is tried again on the watchdog's
    // 15 s rhythm, not on every tick; a dead one on its own few seconds' rhythm.
    const bool leftToRetries =
        candidate == state.PendingSource && (state.CurrentSource != -1 || state.PendingDead);
    if (candidate != state.CurrentSource && !leftToRetries) {
        co_await eventSwitch(station, candidate, cause);
    }
    showCurrentSource(station);
}

void owedEventsFromNow(Station& station) {
    station.state.EventsOwedAfter = localSeconds(station.now());
}

void tmrClockandEventCheck(Station& station) {
    const LocalDateTime now = station.now();
    station.display.lblClock.caption = formatTime(now);
    station.display.lblDate.caption = formatDate(now);
    // A due event goes on air within a tenth of a second of its second, not at
    // the executor's next tick up to a second later, so that stations whose
    // schedules switch at the same second do so together. The executor's first
    // look stays on its own tick.
    auto& timers = station.timers;
    if (station.state.EventsOwedAfter != 0 && !station.switching.taken() &&
        owedEvent(station.state, now) && timers.isEnabled(timer::tmrCheckAndDoEvents) &&
        !timers.isWaiting(timer::tmrCheckAndDoEvents)) {
        timers.fire(timer::tmrCheckAndDoEvents);
    }
}

}  // namespace kestrel
