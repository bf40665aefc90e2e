#pragma once

#include <cstdint>
#include <optional>

#include "station/station.h"

namespace kestrel {

/// Every 15 s: shows which player slots run and, when none runs although a
/// source should be on air, records the outage (`restartAfterOutage`). A
/// process check that cannot be made, or a switch that runs, leaves
/// everything as it was. True when it recorded an outage.
bool tmrCheckMplayerOK(Station& station);

/// Which player slots run.
struct RunningSlots {
    bool slot1 = false;
    bool slot2 = false;
    bool any() const { return slot1 || slot2; }
};

/// Checks both slots' processes and shows which run (lblMplayer1, lblMplayer2);
/// nullopt, and nothing shown, when a check cannot be made.
std::optional<RunningSlots> lookAtSlots(Station& station);

/// When neither slot runs although a source should be on air: the source
/// goes off air (CurrentSource -1) and is to start again (WasPlaying, for
/// the watchdog), a "RESTART " line goes to "error.log" (one per 15 s and
/// source), and the reconciler is told. A source restarted (after an outage
/// or a stall) less than 15 s ago is started again only 15 s after that
/// restart (source 0 stands in meanwhile).
/// Returns whether it recorded an outage.
bool restartAfterOutage(Station& station, RunningSlots running);

/// Whether `source` may be restarted now: not within 15 s of its last
/// restart. `noteRestart` records one.
bool mayRestart(const Station& station, std::int16_t source);
void noteRestart(Station& station, std::int16_t source);

}  // namespace kestrel
