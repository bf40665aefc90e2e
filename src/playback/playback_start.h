#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "station/station.h"

namespace kestrel {

/// Whether a player of `slot` may run: a check that cannot be made counts as
/// running, so that a switch then keeps the old slot until the new one plays.
bool mayRun(Station& station, int slot);

/// Whether the player of the on-air slot runs; a check that cannot be made
/// counts as not running.
bool onAirPlayerRuns(Station& station);

/// How a freshly started player turned out.
enum class NewPlayer {
    Playing,   ///< its log shows "Starting playback..." and the overlap has passed
    TimedOut,  ///< it has not shown that line by the time-out (or cannot be checked)
    Unseen,    ///< the same, with its log still empty (a full disk): no telling whether it plays
    Ended,     ///< it ended before it began playback, or within the overlap
    Silent,    ///< it played, but not with the sound a trial asked for in time
    Unwanted,  ///< before it played, `stillWanted` said its source is no longer wanted
    UnwantedPlaying,  ///< the same, once it had begun playback (within the overlap)
    NoOutput,         ///< its log says it has no sound device: the output failed, not the source
};

/// What a trial of a source held off for silence asks of its new player: a
/// level at or above `levelDbfs` for `holdSeconds` on end, beginning within
/// `withinSeconds` of its playback.
struct SoundTest {
    double levelDbfs = -40;
    double holdSeconds = 3;
    double withinSeconds = 10;
};

/// Follows the player just started in `slot` without holding the thread:
/// every 0.1 s it checks the slot's process and reads what the slot's log
/// gained, until the player plays (at `overlapSeconds` at the earliest), ends,
/// or `timeoutSeconds` have passed. It plays from "Starting playback..." or
/// from the first block it decodes, whichever comes first; with `sound`, only
/// once it passes that test. A player counts as ended only once it was seen
/// running, or when it has not shown up within a second (the runner starts it
/// through a double fork). Only its own blocks count: the slot's levels start
/// afresh with it. At every look, once the log and levels are read, `stillWanted` (when
/// given) is asked. A player whose log reports no sound output is NoOutput,
/// whether it ended or not.
Task<NewPlayer> awaitPlayback(Station& station, int slot, double overlapSeconds,
                              double timeoutSeconds, std::optional<SoundTest> sound = {},
                              std::function<bool()> stillWanted = {});

}  // namespace kestrel
