#pragma once

#include <cstdint>
#include <optional>

#include "station/station.h"

namespace kestrel {

/// Every 15 s: shows which player slots run and, when none runs although a
/// source should be on air, restarts it (`restartAfterOutage`). Otherwise,
/// when a source is pending (its last switch failed), tries it again. A
/// process check that cannot be made, or a switch that runs, leaves
/// everything as it was. True when it has handed a source back.
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

/// When neither slot runs although a source should be on air: stops both
/// slots, hands the source back through WasPlaying for
/// `startHandedBackSource` and appends a "RESTART " line to "error.log". A
/// source restarted (after an outage or a stall) less than 15 s ago waits
/// for that long, so that a player that cannot stay up costs one line per
/// 15 s. Returns whether it restarted.
bool restartAfterOutage(Station& station, RunningSlots running);

/// Starts the source handed back in WasPlaying now: by the executor's tick in
/// AUTOMATIC mode, by the watchdog's own switch in MANUAL mode.
void startHandedBackSource(Station& station);

/// Whether the pending source, dead when last tried (`PendingDead`), is due
/// to be tried again: 5 s after its last try while another player runs, 2 s
/// while none does.
bool deadSourceRetryDue(const Station& station, RunningSlots running);

/// Whether `source` may be restarted now: not within 15 s of its last
/// restart. `noteRestart` records one.
bool mayRestart(const Station& station, std::int16_t source);
void noteRestart(Station& station, std::int16_t source);

}  // namespace kestrel
