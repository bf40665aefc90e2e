#include "playback/switch_procedure.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "playback/playback_start.h"
#include "playback/player_start.h"
#include "playback/source_list.h"
#include "station/station_events.h"
#include "station/time_format.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// Both slots play at least this long before the old one is stopped.
constexpr double kOverlapSeconds = 2;

struct NextSource : SourceEntry {
    bool addressFound = false;  ///< false: the key named no address, the source on air is kept
};

NextSource sourceOfKey(const Station& station, const std::string& key) {
    NextSource source;
    tolerate([&] {
        static_cast<SourceEntry&>(source) = lookupSource(station.file(kSourceListFile), key);
    });
    source.addressFound = source.address.size() >= kShortestAddress;
    if (!source.addressFound) {
        source.address = station.display.lblCurrentSource.caption;
        source.name = station.display.lblStudio.caption;
    }
    return source;
}

// How the new slot's player turns out. With a source on air a player that
// has not begun playback by the time-out failed: handing it the air could
// trade sound for silence. With nothing on air there is nothing to keep: a
// player that runs then takes over at the time-out, as it always has; so
// does one whose log stays empty (a full disk), as nothing tells it failed.
// A source tried again after a silence plays only with sound.
Task<NewPlayer> newPlayerStarts(Station& station, int slot, bool somethingToKeep,
                                SwitchCause cause) {
    const double timeout = std::max<double>(kOverlapSeconds, station.state.SwitchTimeout);
    if (cause == SwitchCause::SilenceEnded) {
        co_return co_await awaitPlayback(
            station, slot, kOverlapSeconds, timeout,
            SoundTest{static_cast<double>(station.state.SilenceLevel)});
    }
    const NewPlayer started = co_await awaitPlayback(station, slot, kOverlapSeconds, timeout);
    if (started == NewPlayer::Unseen) co_return NewPlayer::Playing;
    if (started != NewPlayer::TimedOut) co_return started;
    co_return somethingToKeep ? NewPlayer::Ended : NewPlayer::Playing;
}

// `source` is wanted (with its key, for `cause`) until it plays.
void wantPending(StationState& state, std::int16_t source, const std::string& key,
                 SwitchCause cause) {
    if (state.PendingSource != source) state.PendingDead = false;
    state.PendingSource = source;
    state.PendingKey = key;
    state.PendingCause = cause;
}

// Nothing plays and `dead` cannot: source 0 goes on air meanwhile, unless it
// is the dead one, has no address, or MANUAL mode leaves the choice to a person.
void standInForDeadSource(Station& station, std::int16_t dead) {
    if (dead == 0 || !station.automatic() || !sourceOfKey(station, "0").addressFound) return;
    station.spawn(eventSwitch(station, 0, SwitchCause::SourceDead));
}

// Whether a switch for `cause` is a new wish that replaces the pending one;
// a restart of the same source, or a trial of a silent one, leaves it.
bool isNewWish(SwitchCause cause) {
    return cause != SwitchCause::Watchdog && cause != SwitchCause::Stall &&
           cause != SwitchCause::SourceDead && cause != SwitchCause::SilenceEnded;
}

// Whether a switch for `cause` that puts another source on air starts the
// failure detector afresh: every one but the detector's own fallback and
// return, and the restarts of the same source.
bool startsDetectorAfresh(SwitchCause cause) {
    return isNewWish(cause) && cause != SwitchCause::Failover && cause != SwitchCause::Recovery;
}

// An order of the operator, an API client or the management server, asked
// for at `askedAt`, replaces every event that came due before it.
void noteSwitchOrder(Station& station, std::int64_t askedAt) {
    auto& after = station.state.EventsOwedAfter;
    after = std::max(after, askedAt);
}

// At most one API or web switch waits behind a running one: a newer request replaces
// it, and the replaced one ends at once, unswitched. False for a replaced one.
Task<bool> mayApiSwitchWait(Station& station) {
    constexpr double kLookEverySeconds = 0.05;
    const auto ticket = ++station.latestApiSwitch;
    while (station.switching.taken() && ticket == station.latestApiSwitch)
        co_await station.Pause(kLookEverySeconds);
    co_return ticket == station.latestApiSwitch;
}

void showOnAir(Station& station, const SourceEntry& source, std::int16_t number) {
    auto& display = station.display;
    display.lblCurrentSource.caption = source.address;
    display.lblStudio.caption = source.name;
    station.state.PlayURL = source.address;
    station.state.CurrentSource = number;
    display.lblSourceNumber.caption = std::to_string(number);
    display.lblSourceDisp.caption = std::to_string(number);
}

}  // namespace

std::optional<std::int16_t> sourceNumberOfKey(const std::string& key) {
    long value = 0;
    for (char c : key) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 32767) return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

Task<bool> runSwitchProcedure(Station& station, SwitchEntry entry, SwitchCause cause,
                              std::string sourceKey, std::optional<std::int16_t> source) {
    auto& state = station.state;
    auto& display = station.display;
    const bool operatorEntry = entry == SwitchEntry::Operator;

    if (operatorEntry) {
        display.cmdForceSwitch.enabled = false;
        state.SilenceFlag = 0;
        state.LinkFailCount = 0;
        state.WasPlaying = -1;
    }
    const int newSlot = nextSlot(state.CurrentMplayer);
    const int otherSlot = newSlot == 1 ? 2 : 1;
    const std::int16_t wanted = source.value_or(state.CurrentSource);
    const bool newWish = isNewWish(cause);
    if (newWish) wantPending(state, wanted, sourceKey, cause);
    const NextSource next = sourceOfKey(station, sourceKey);

    bool somethingToKeep = true;
    tolerate([&] { somethingToKeep = somethingOnAir(station); });
    tolerate([&] { station.run(playerStart(station, newSlot, wanted, next.address)); });
    NewPlayer started = NewPlayer::TimedOut;
    try {
        started = co_await newPlayerStarts(station, newSlot, somethingToKeep, cause);
    } catch (...) {
    }
    if (cause == SwitchCause::SilenceEnded && started != NewPlayer::Playing) {
        // A trial without sound: the backup plays on, and nothing went wrong.
        tolerate([&] { station.run(StopPlayer{newSlot}); });
        recordSilenceTrial(station, wanted, newSlot);
        co_return false;
    }
    if (started == NewPlayer::Ended) {
        tolerate([&] { station.run(StopPlayer{newSlot}); });
        recordSwitchFailure(station, cause, wanted, newSlot, next.address);
        tolerate([&] { appendToErrorLogSpaced(station, kSwitchFailedEntry, wanted); });
        // The stand-in itself never becomes the wish.
        if (!somethingToKeep && cause != SwitchCause::SourceDead)
            wantPending(state, wanted, sourceKey, cause);
        state.PendingDead = state.PendingDead || !somethingToKeep;
        state.PendingTriedAt = station.platform.clock.steadySeconds();
        if (!somethingToKeep) standInForDeadSource(station, wanted);
        if (operatorEntry) display.cmdForceSwitch.enabled = true;
        co_return false;
    }

    tolerate([&] { station.run(StopPlayer{otherSlot}); });
    tolerate([&] {
        std::error_code ignored;  // fails while the stopped player still holds it
        std::filesystem::remove(station.file(playerLogFile(otherSlot)), ignored);
    });
    state.CurrentMplayer = static_cast<std::int16_t>(newSlot);
    if (wanted != state.CurrentSource && startsDetectorAfresh(cause)) {
        state.LinkFailCount = 0;
        state.SilenceFlag = 0;
    }
    showOnAir(station, next, wanted);
    if (newWish || wanted == state.PendingSource) {
        state.PendingSource = -1;
        state.PendingKey.clear();
        state.PendingDead = false;
    }
    if (station.afterSwitch) tolerate([&] { station.afterSwitch(station); });
    recordSwitch(station, cause, wanted, newSlot, next.addressFound ? "ok" : "no_address");

    if (operatorEntry) display.cmdForceSwitch.enabled = true;
    co_return true;
}

namespace {

// The operator's, the API's and the control room's switch: the same entry,
// told apart by cause.
Task<bool> forceSwitch(Station& station, std::string key, SwitchCause cause) {
    noteSwitchOrder(station, localSeconds(station.now()));
    const bool remote = cause == SwitchCause::Api || cause == SwitchCause::Web;
    if (remote && !co_await mayApiSwitchWait(station)) co_return false;
    const auto turn = co_await station.switching.take();
    const auto number = sourceNumberOfKey(key);
    co_return co_await runSwitchProcedure(station, SwitchEntry::Operator, cause, std::move(key),
                                          number);
}

}  // namespace

Task<bool> cmdForceSwitch_Click(Station& station) {
    return forceSwitch(station, station.display.comboSourceList.text.substr(0, 1),
                       SwitchCause::Operator);
}

Task<bool> apiSwitch(Station& station, std::string key) {
    return forceSwitch(station, std::move(key), SwitchCause::Api);
}

Task<bool> webSwitch(Station& station, std::string key) {
    return forceSwitch(station, std::move(key), SwitchCause::Web);
}

Task<bool> eventSwitch(Station& station, std::int16_t candidate, SwitchCause cause) {
    const auto turn = co_await station.switching.take();
    const std::string digits = std::to_string(candidate);
    co_return co_await runSwitchProcedure(station, SwitchEntry::EventExecutor, cause,
                                          digits.substr(digits.size() - 1), candidate);
}

Task<bool> remoteSwitch(Station& station, std::string answer) {
    const std::int64_t askedAt = localSeconds(station.now());
    const auto turn = co_await station.switching.take();
    const auto number = sourceNumberOfKey(answer);
    if (!number || !sourceOfKey(station, answer).addressFound) {
        recordRemoteOrderIgnored(station, answer, "no_such_source");
        co_return false;
    }
    // Starting the source on air again would play it twice, offset by the buffering.
    if (*number == station.state.CurrentSource && onAirPlayerRuns(station)) {
        recordRemoteOrderIgnored(station, answer, "already_on_air");
        co_return true;
    }
    noteSwitchOrder(station, askedAt);
    co_return co_await runSwitchProcedure(station, SwitchEntry::ManagementPoll,
                                          SwitchCause::Management, std::move(answer), number);
}

Task<> retryPendingSource(Station& station) {
    const auto turn = co_await station.switching.take();
    const StationState& state = station.state;
    if (state.PendingSource == -1) co_return;
    co_await runSwitchProcedure(station, SwitchEntry::PendingRetry, state.PendingCause,
                                state.PendingKey, state.PendingSource);
}

}  // namespace kestrel
