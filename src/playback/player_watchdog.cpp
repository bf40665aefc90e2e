#include "playback/player_watchdog.h"

#include "platform/command_line.h"
#include "playback/error_log.h"
#include "playback/switch_procedure.h"
#include "station/station_events.h"

namespace kestrel {

void tmrCheckMplayerOK(Station& station) {
    auto& processes = station.platform.processes;
    const ProcessCheck slot1 = processes.check(playerExecutable(1));
    const ProcessCheck slot2 = processes.check(playerExecutable(2));
    // Without a sure answer nothing is shown or done: acting on it could
    // restart a source that is playing.
    if (slot1 == ProcessCheck::Unknown || slot2 == ProcessCheck::Unknown) return;

    const bool running1 = slot1 == ProcessCheck::Running;
    const bool running2 = slot2 == ProcessCheck::Running;
    station.display.lblMplayer1.caption = running1 ? "1" : "";
    station.display.lblMplayer2.caption = running2 ? "2" : "";

    auto& state = station.state;
    // A switch that runs changes both slots; the next tick looks again.
    if (station.switching.taken()) return;
    if (!running1 && !running2 && state.CurrentSource != -1) {
        station.run(playerStopCommand(1));
        station.run(playerStopCommand(2));
        state.WasPlaying = state.CurrentSource;
        state.CurrentSource = -1;
        recordPlayerOutage(station, state.WasPlaying);
        appendToErrorLog(station, kRestartEntry, state.WasPlaying);
        return;
    }
    if (state.PendingSource != -1) station.spawn(retryPendingSource(station));
}

}  // namespace kestrel
