#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "station/station.h"

namespace kestrel {

/// Who asks for a switch. The steps are the same for all; the entries differ
/// in where the key comes from, in the button and reset steps, and in how
/// `CurrentSource` is set.
enum class SwitchEntry {
    Operator,        ///< "Force Switch Now" and the API: button, resets, CurrentSource from key
    EventExecutor,   ///< CurrentSource set first from the candidate; no button, no resets
    ManagementPoll,  ///< whole answer as key; no button, no resets; CurrentSource from the key
};

/// The one switch procedure: start the idle slot with the key's source, let
/// both play for two seconds, stop the other slot and delete its log, show
/// the new source and send the source status report. A failing step is
/// skipped. The caller holds the station's switching turn; for
/// EventExecutor, `CurrentSource` must already hold the candidate. The
/// overlap waits without holding the thread; the switch ends once the state
/// is updated, and the status report then goes out on its own. The switch
/// is counted and journaled under `cause`.
Task<> runSwitchProcedure(Station& station, SwitchEntry entry, SwitchCause cause,
                          std::string sourceKey);

/// The operator's entry (and the API's): key from `TransferString` when not
/// empty (an API switch), else the first character of the selector's text,
/// both read at once. Waits for a switch that is running to end first.
Task<> cmdForceSwitch_Click(Station& station);

/// The event executor's entry: plays `candidate`, which it chose for `cause`.
/// Runs at once; the executor asks only while no switch runs.
Task<> eventSwitch(Station& station, std::int16_t candidate, SwitchCause cause);

/// The management change poll's entry: the whole answer is the key. Waits
/// for a switch that is running to end first.
Task<> remoteSwitch(Station& station, std::string answer);

/// The value of the key's leading digits (0 when it does not begin with a
/// digit); nullopt when that value does not fit 16 bits.
std::optional<std::int16_t> sourceNumberOfKey(const std::string& key);

/// The slot a switch starts: 2 after slot 1, else 1.
inline int nextSlot(std::int16_t currentMplayer) {
    return currentMplayer == 1 ? 2 : 1;
}

}  // namespace kestrel
