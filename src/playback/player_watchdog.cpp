#include "playback/player_watchdog.h"

#include "platform/command_line.h"
#include "platform/file_io.h"
#include "station/station_events.h"
#include "station/time_format.h"

namespace kestrel {

std::string restartLogLine(const LocalDateTime& t, int source) {
    return "RESTART " + zeroPadded(t.month, 2) + "-" + zeroPadded(t.day, 2) + "-" +
           zeroPadded(t.year, 4) + " " + formatTime(t) + " SOURCE:" + std::to_string(source) +
           "\r\n";
}

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
    if (running1 || running2 || state.CurrentSource == -1 || station.switching.taken()) return;
    station.run(playerStopCommand(1));
    station.run(playerStopCommand(2));
    state.WasPlaying = state.CurrentSource;
    state.CurrentSource = -1;
    recordPlayerOutage(station, state.WasPlaying);
    // An error log that cannot be written loses the entry, nothing else.
    appendToFile(station.file("error.log"), restartLogLine(station.now(), state.WasPlaying));
}

}  // namespace kestrel
