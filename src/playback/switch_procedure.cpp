#include "playback/switch_procedure.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "monitoring/loudness_control.h"
#include "platform/station_command.h"
#include "playback/crossfade.h"
#include "playback/error_log.h"
#include "playback/output_watch.h"
#include "playback/playback_start.h"
#include "playback/player_start.h"
#include "playback/source_list.h"
#include "station/station_events.h"
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
        if (const std::string* list = station.sourceListFile.read(station.file(kSourceListFile)))
            static_cast<SourceEntry&>(source) = lookupSourceIn(*list, key);
    });
    source.addressFound = source.address.size() >= kShortestAddress;
    if (!source.addressFound) {
        source.address = station.display.lblCurrentSource.caption;
        source.name = station.display.lblStudio.caption;
    }
    return source;
}

// How the new slot's player turns out. Whether anything is left to keep is
// decided at the time-out: a player that has not begun playback by then
// fails while the old slot's player still runs, as handing it the air could
// trade sound for silence (its log may be empty: a full disk tells nothing);
// with nothing left to keep, a player that runs takes over.
Task<NewPlayer> newPlayerStarts(Station& station, int slot, int otherSlot, bool trial,
                                std::function<bool()> stillWanted) {
    const double timeout = std::max<double>(kOverlapSeconds, station.state.SwitchTimeout);
    std::optional<SoundTest> sound;
    if (trial) sound = SoundTest{static_cast<double>(station.state.SilenceLevel)};
    const NewPlayer started = co_await awaitPlayback(station, slot, kOverlapSeconds, timeout, sound,
                                                     std::move(stillWanted));
    if (started != NewPlayer::TimedOut && started != NewPlayer::Unseen) co_return started;
    bool somethingToKeep = true;
    tolerate([&] { somethingToKeep = mayRun(station, otherSlot); });
    co_return somethingToKeep ? NewPlayer::Ended : started;
}

// Whether the other slot holds nothing audible: no player, or one that took
// the air at a time-out without ever showing that it plays.
bool nothingHeardBeside(Station& station, int otherSlot) {
    bool runs = true;
    tolerate([&] { runs = mayRun(station, otherSlot); });
    const auto& state = station.state;
    const bool onAirUnheard =
        state.CurrentSource != -1 && state.CurrentMplayer == otherSlot && !state.OnAirHeard;
    return !runs || onAirUnheard;
}

// Whether a switch for `cause` that puts another source on air starts the
// failure detector afresh: every one but the detector's own fall-back and
// return, and the restarts and trials of the same source.
bool startsDetectorAfresh(SwitchCause cause) {
    return cause != SwitchCause::Failover && cause != SwitchCause::Recovery &&
           cause != SwitchCause::Watchdog && cause != SwitchCause::Stall &&
           cause != SwitchCause::SourceDead && cause != SwitchCause::SilenceEnded;
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

// The new player plays: the old slot goes, the new source is shown on air.
void takeTheAir(Station& station, const AirDecision& decision, const NextSource& next, int newSlot,
                int otherSlot, bool heard) {
    auto& state = station.state;
    state.OnAirHeard = heard;
    // Whatever became of a fade, the new player plays at its own level.
    station.loudness.slot(newSlot).fadeDb = 0.0;
    tolerate([&] { applySlotVolume(station, newSlot); });
    tolerate([&] { station.run(StopPlayer{otherSlot}); });
    tolerate([&] {
        std::error_code ignored;  // fails while the stopped player still holds it
        std::filesystem::remove(station.file(playerLogFile(otherSlot)), ignored);
    });
    state.CurrentMplayer = static_cast<std::int16_t>(newSlot);
    if (decision.source != state.CurrentSource && startsDetectorAfresh(decision.cause)) {
        state.LinkFailCount = 0;
        state.SilenceFlag = 0;
    }
    showOnAir(station, next, decision.source);
    state.WasPlaying = -1;
    state.RecoveryPending = false;
    state.FailedTries.erase(decision.source);
    if (heard) outputAnswers(station);
    if (station.afterSwitch) tolerate([&] { station.afterSwitch(station); });
    recordSwitch(station, decision.cause, decision.source, newSlot,
                 next.addressFound ? "ok" : "no_address");
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

bool keyHasAddress(const Station& station, const std::string& key) {
    return sourceOfKey(station, key).addressFound;
}

Task<SwitchEnd> switchToward(Station& station, const AirDecision& decision,
                             std::function<bool()> stillWanted) {
    auto& state = station.state;
    const int newSlot = nextSlot(state.CurrentMplayer);
    const int otherSlot = newSlot == 1 ? 2 : 1;
    const NextSource next = sourceOfKey(station, decision.key);

    // Only the new player's own blocks tell that it decodes.
    tolerate([&] { station.platform.levels.clear(newSlot); });
    station.audio.slot(newSlot) = SlotLevels();
    // Beside the source on air, heard, the new player starts muted, to be
    // faded in; one that replaces a silent or stalled source is heard at once.
    const double fadeSeconds = state.CrossfadeTenths / 10.0;
    const bool replacesSilence =
        decision.cause == SwitchCause::Silence || decision.cause == SwitchCause::Stall;
    const auto onAirBeside = [&] {
        return !replacesSilence && state.CurrentSource != -1 && state.CurrentMplayer == otherSlot &&
               !nothingHeardBeside(station, otherSlot);
    };
    const bool fades = fadeSeconds > 0 && onAirBeside();
    tolerate(
        [&] { station.run(playerStart(station, newSlot, decision.source, next.address, fades)); });
    NewPlayer started = NewPlayer::TimedOut;
    try {
        started = co_await newPlayerStarts(station, newSlot, otherSlot, decision.trial,
                                           std::move(stillWanted));
    } catch (...) {
    }
    // A player that plays where nothing else does keeps the air even when its
    // source is no longer wanted, or a trial found it silent: the next switch
    // replaces it make-before-break.
    if (started == NewPlayer::UnwantedPlaying || started == NewPlayer::Silent) {
        if (nothingHeardBeside(station, otherSlot)) started = NewPlayer::Playing;
        if (started == NewPlayer::UnwantedPlaying) started = NewPlayer::Unwanted;
    }
    // At a time-out with nothing left to keep, a player that runs takes over unheard.
    const bool unseen = started == NewPlayer::TimedOut || started == NewPlayer::Unseen;
    if (started == NewPlayer::Playing && fades && onAirBeside()) {
        FadeEnd fade = FadeEnd::Faded;
        try {
            fade = co_await crossfade(station, newSlot, otherSlot, fadeSeconds);
        } catch (...) {
        }
        if (fade == FadeEnd::NewPlayerEnded) started = NewPlayer::Ended;
    }
    if (started == NewPlayer::Playing || unseen) {
        takeTheAir(station, decision, next, newSlot, otherSlot, !unseen);
        co_return SwitchEnd::OnAir;
    }
    tolerate([&] { station.run(StopPlayer{newSlot}); });
    if (started == NewPlayer::Unwanted) co_return SwitchEnd::Unwanted;
    if (started == NewPlayer::NoOutput) {
        declareOutputFailure(station, newSlot, decision.source);
        co_return SwitchEnd::NoOutput;
    }
    if (decision.trial) {
        // A trial without sound: the backup plays on, and nothing went wrong.
        recordSilenceTrial(station, decision.source, newSlot);
        co_return SwitchEnd::Silent;
    }
    recordSwitchFailure(station, decision.cause, decision.source, newSlot, next.address);
    tolerate([&] { appendToErrorLogSpaced(station, kSwitchFailedEntry, decision.source); });
    state.FailedTries[decision.source] = station.platform.clock.steadySeconds();
    co_return SwitchEnd::Failed;
}

}  // namespace kestrel
