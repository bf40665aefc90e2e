#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "station/station.h"

namespace kestrel {

/// Who asks for a switch. The steps are the same for all; the entries differ
/// in where the key comes from and in the button and reset steps.
enum class SwitchEntry {
    Operator,        ///< "Force Switch Now" and the API: button and resets
    EventExecutor,   ///< the executor's candidate
    ManagementPoll,  ///< the whole answer of the change poll as key
    PendingRetry,    ///< the pending source tried again
};

/// The one switch procedure, make before break: starts the idle slot with the
/// key's source and keeps the other slot until the new player has begun
/// playback (its log shows "Starting playback..." or it decodes its first
/// block), never less than the two-second overlap and at most `SwitchTimeout`
/// seconds; then stops the other slot and deletes its log, shows the new
/// source (`CurrentSource` becomes `source`, or stays when nullopt) and sends
/// the source status report. Until then the source on air and everything
/// shown about it stay as they are, and the wanted source is `PendingSource`.
/// With nothing on air there is nothing to keep: a player that still runs at
/// the time-out takes over.
///
/// A new player that ends before it plays, or, with a source on air, has not
/// begun playback by `SwitchTimeout`, is a failed switch: it is stopped,
/// a "SWITCH FAILED" line goes to "error.log", the old slot plays on, and the
/// source stays pending for the watchdog to try again. Returns whether the
/// new source is on air. A failing step is skipped. The caller holds the
/// station's switching turn; the switch ends once the state is updated, and
/// the status report then goes out on its own. The switch, or its failure,
/// is counted and journaled under `cause`. A restart of a source handed back
/// by the watchdog or of a stalled one, source 0 standing in for a dead
/// source, and the trial of a silent one (cause Watchdog, Stall, SourceDead,
/// SilenceEnded) leave a pending source pending; any other switch replaces it. A switch that puts
/// another source on air for any cause but the failure detector's fallback
/// and return (Failover, Recovery) resets `LinkFailCount` and `SilenceFlag`:
/// the detector watches the new source afresh.
Task<bool> runSwitchProcedure(Station& station, SwitchEntry entry, SwitchCause cause,
                              std::string sourceKey, std::optional<std::int16_t> source);

/// The operator's entry: the first character of the selector's text, read at
/// once. Waits for a switch that is running to end first.
Task<bool> cmdForceSwitch_Click(Station& station);

/// The API's entry: the operator's, with the request's key. Waits for a
/// switch that is running to end first; of API switches only the latest
/// waits: an older one waiting then ends at once and returns false, so its
/// client hears "ERROR".
Task<bool> apiSwitch(Station& station, std::string key);

/// The control room's entry: the API's, with the web as cause; web and API
/// switches share the rule that only the latest one waits.
Task<bool> webSwitch(Station& station, std::string key);

/// The event executor's entry: plays `candidate`, which it chose for `cause`.
/// Waits for a switch that is running to end first. With cause SilenceEnded
/// (a source held off for silence tried again) the new player takes over
/// only once it has had sound for 3 s, beginning within 10 s of its
/// playback; else it is stopped and the source on air plays on.
Task<bool> eventSwitch(Station& station, std::int16_t candidate, SwitchCause cause);

/// The management change poll's entry: the whole answer is the key. Waits
/// for a switch that is running to end first. A key that names no source of
/// the list, or the source on air while its player runs, switches nothing
/// and writes a journal line; true when the source is on air.
Task<bool> remoteSwitch(Station& station, std::string answer);

/// Tries the pending source again with its key, under the cause of the
/// switch that first wanted it, after a switch that is running; does nothing
/// when that switch has replaced the wish.
Task<> retryPendingSource(Station& station);

/// The value of the key's leading digits (0 when it does not begin with a
/// digit); nullopt when that value does not fit 16 bits.
std::optional<std::int16_t> sourceNumberOfKey(const std::string& key);

/// The slot a switch starts: 2 after slot 1, else 1.
inline int nextSlot(std::int16_t currentMplayer) {
    return currentMplayer == 1 ? 2 : 1;
}

}  // namespace kestrel
