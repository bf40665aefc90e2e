#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "playback/wanted_source.h"
#include "station/station.h"

namespace kestrel {

/// How a switch ended.
enum class SwitchEnd {
    OnAir,     ///< its source is on air; the old slot is stopped
    Failed,    ///< its new player ended first, or did not play while a source was on air
    Silent,    ///< a trial of a source held off for silence found no sound
    Unwanted,  ///< its source was no longer wanted before its player played
    NoOutput,  ///< its new player found no sound device: nobody's fault but the device's
};

/// The one switch, make before break, toward `decision`: starts the idle slot
/// with the key's source (a key without an address starts the source on air
/// again) and keeps the other slot until the new player has begun playback
/// (its log shows "Starting playback..." or it decodes its first block),
/// never less than the two-second overlap and at most `SwitchTimeout`
/// seconds. Beside a source that is heard, the new player starts muted and,
/// once it plays, is faded in as the old one is faded out over
/// CrossfadeSeconds (see crossfade); a failed switch never fades anything.
/// Then it stops the other slot and deletes its log, shows the new source
/// (`CurrentSource` becomes the decision's source) and sends the source
/// status report. Until then the source on air and everything shown about
/// it stay as they are. A trial (decision.trial) plays only once it has had
/// sound for 3 s, beginning within 10 s of its playback.
///
/// A new player that ends before it plays, or has not played by the time-out
/// while the other slot's player still runs then, is a failed switch: it is
/// stopped, a "SWITCH FAILED" line goes to "error.log" (one per 15 s and
/// source), the old slot plays on, and the source's failed try is recorded
/// (FailedTries). A new player that finds no sound device is stopped and
/// declares an output failure (see declareOutputFailure); its source is
/// not held to blame. With nothing left to keep at the time-out, a new player
/// that still runs takes over. When `stillWanted` turns false before the new
/// player plays, it is stopped and nothing else changes. A failing step is
/// skipped. A switch that puts another source on air for any cause but the
/// failure detector's fall-back and return resets `LinkFailCount` and
/// `SilenceFlag`: the detector watches the new source afresh.
Task<SwitchEnd> switchToward(Station& station, const AirDecision& decision,
                             std::function<bool()> stillWanted);

/// The value of the key's leading digits (0 when it does not begin with a
/// digit); nullopt when that value does not fit 16 bits.
std::optional<std::int16_t> sourceNumberOfKey(const std::string& key);

/// Whether the key names a source of the list with an address to play.
bool keyHasAddress(const Station& station, const std::string& key);

/// The slot a switch starts: 2 after slot 1, else 1.
inline int nextSlot(std::int16_t currentMplayer) {
    return currentMplayer == 1 ? 2 : 1;
}

}  // namespace kestrel
