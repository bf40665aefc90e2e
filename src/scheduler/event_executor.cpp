#include "scheduler/event_executor.h"

#include <optional>

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

// The latest event that came due after EventsOwedAfter: NextEvent, one due
// soon after it, or LastEvent, which holds an event of a minute gone by.
std::optional<OwedEvent> owedEvent(const StationState& state, const LocalDateTime& now) {
    std::optional<OwedEvent> owed;
    const auto consider = [&](const std::string& event) {
        const auto moment = lastDueMoment(event, now);
        if (moment && *moment > state.EventsOwedAfter && (!owed || *moment > owed->moment))
            owed = OwedEvent{&event, *moment};
    };
    consider(state.LastEvent);
    consider(state.NextEvent);
    for (const std::string& event : state.SoonEvents)
        consider(event);
    return owed;
}

// The key of a source number: its last digit.
std::string keyOf(std::int16_t source) {
    return std::string(1, std::to_string(source).back());
}

void showCurrentSource(Station& station) {
    const std::string shown = std::to_string(station.state.CurrentSource);
    station.display.lblSourceNumber.caption = shown;
    station.display.lblSourceDisp.caption = shown;
}

}  // namespace

void tmrCheckAndDoEvents(Station& station) {
    auto& state = station.state;
    const LocalDateTime now = station.now();
    // The first look owes the events of its own second only.
    if (state.EventsOwedAfter == 0) state.EventsOwedAfter = localSeconds(now) - 1;
    bool changed = false;
    if (state.ScheduledWish.source == -1) {
        const std::int16_t source = scheduledSource(state.LastEvent).value_or(9);
        state.ScheduledWish = Wish{source, keyOf(source), SwitchCause::Schedule, 0, 0};
        changed = true;
    }
    // Each event fires once, also when the executor looks late.
    if (const auto owed = owedEvent(state, now)) {
        const std::int16_t source = digitValue(textPart(*owed->text, 10, 1));
        state.ScheduledWish = Wish{source, keyOf(source), SwitchCause::Schedule, owed->moment, 0};
        state.EventsOwedAfter = owed->moment;
        state.FailedTries.erase(source);  // an event gets a try of its own on its second
        endSilenceHold(station, causeName(SwitchCause::Schedule));
        changed = true;
    }
    showCurrentSource(station);
    if (changed) station.factsChanged();
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
    if (station.state.EventsOwedAfter != 0 && owedEvent(station.state, now) &&
        timers.isEnabled(timer::tmrCheckAndDoEvents) &&
        !timers.isWaiting(timer::tmrCheckAndDoEvents)) {
        timers.fire(timer::tmrCheckAndDoEvents);
    }
}

}  // namespace kestrel
