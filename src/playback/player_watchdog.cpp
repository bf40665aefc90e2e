#include "playback/player_watchdog.h"

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "station/station_events.h"

namespace kestrel {
namespace {

// The shortest time between two restarts of one source.
constexpr double kRestartSpacingSeconds = 15;

}  // namespace

bool mayRestart(const Station& station, std::int16_t source) {
    const auto& last = station.state;
    return last.LastRestartSource != source ||
           steadySecondsPassed(last.LastRestartAt, station.platform.clock.steadySeconds(),
                               kRestartSpacingSeconds);
}

void noteRestart(Station& station, std::int16_t source) {
    station.state.LastRestartSource = source;
    station.state.LastRestartAt = station.platform.clock.steadySeconds();
}

bool restartAfterOutage(Station& station, RunningSlots running) {
    auto& state = station.state;
    if (running.any() || state.CurrentSource == -1) return false;
    const std::int16_t source = state.CurrentSource;
    // Nothing runs; whatever is left of either slot goes before the restart.
    station.run(StopPlayer{1});
    station.run(StopPlayer{2});
    state.WasPlaying = source;
    state.RestartCause = SwitchCause::Watchdog;
    state.CurrentSource = -1;
    const double now = station.platform.clock.steadySeconds();
    if (mayRestart(station, source)) {
        noteRestart(station, source);
    } else if (state.LastRestartAt <= now) {
        // It cannot stay up: started again 15 s after its last restart
        // (wantedSource waits for LastRestartAt); source 0 stands in meanwhile.
        // A restart already put off keeps its time: another death before it
        // (a player an order started) must not put it off again.
        state.LastRestartAt += kRestartSpacingSeconds;
    }
    recordPlayerOutage(station, source);
    appendToErrorLogSpaced(station, kRestartEntry, source);
    station.factsChanged();
    return true;
}

std::optional<RunningSlots> lookAtSlots(Station& station) {
    auto& processes = station.platform.processes;
    const ProcessCheck slot1 = processes.check(playerExecutable(1));
    const ProcessCheck slot2 = processes.check(playerExecutable(2));
    // Without a sure answer nothing is shown or done: acting on it could
    // restart a source that is playing.
    if (slot1 == ProcessCheck::Unknown || slot2 == ProcessCheck::Unknown) return std::nullopt;
    const RunningSlots running{slot1 == ProcessCheck::Running, slot2 == ProcessCheck::Running};
    station.display.lblMplayer1.caption = running.slot1 ? "1" : "";
    station.display.lblMplayer2.caption = running.slot2 ? "2" : "";
    return running;
}

bool tmrCheckMplayerOK(Station& station) {
    const auto running = lookAtSlots(station);
    if (!running) return false;

    // A switch that runs changes both slots; the next tick looks again.
    if (station.switching) return false;
    return restartAfterOutage(station, *running);  // or later, when restarted lately
}

}  // namespace kestrel
