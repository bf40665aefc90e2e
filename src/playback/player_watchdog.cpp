#include "playback/player_watchdog.h"

#include <utility>

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "playback/switch_procedure.h"
#include "station/station_events.h"
#include "station/timer_names.h"

namespace kestrel {
namespace {

// The shortest time between two restarts of one source.
constexpr double kRestartSpacingSeconds = 15;
// How often a dead source is tried while another one stands in, or while none plays.
constexpr double kDeadRetryBesideSeconds = 5;
constexpr double kDeadRetryAloneSeconds = 2;

}  // namespace

bool mayRestart(const Station& station, std::int16_t source) {
    const auto& last = station.state;
    return last.LastRestartSource != source ||
           steadySecondsPassed(last.LastRestartAt, station.platform.clock.steadySeconds(),
                               kRestartSpacingSeconds);
}

bool deadSourceRetryDue(const Station& station, RunningSlots running) {
    const auto& state = station.state;
    if (state.PendingSource == -1 || !state.PendingDead || station.switching.taken()) return false;
    return steadySecondsPassed(state.PendingTriedAt, station.platform.clock.steadySeconds(),
                               running.any() ? kDeadRetryBesideSeconds : kDeadRetryAloneSeconds);
}

void noteRestart(Station& station, std::int16_t source) {
    station.state.LastRestartSource = source;
    station.state.LastRestartAt = station.platform.clock.steadySeconds();
}

bool restartAfterOutage(Station& station, RunningSlots running) {
    auto& state = station.state;
    if (running.any() || state.CurrentSource == -1) return false;
    if (!mayRestart(station, state.CurrentSource)) return false;
    station.run(StopPlayer{1});
    station.run(StopPlayer{2});
    state.WasPlaying = state.CurrentSource;
    state.CurrentSource = -1;
    noteRestart(station, state.WasPlaying);
    recordPlayerOutage(station, state.WasPlaying);
    appendToErrorLog(station, kRestartEntry, state.WasPlaying);
    return true;
}

void startHandedBackSource(Station& station) {
    if (station.automatic()) {
        station.timers.fire(timer::tmrCheckAndDoEvents);
        return;
    }
    // MANUAL mode stops the executor, not the restart of the source on air.
    const std::int16_t source = std::exchange(station.state.WasPlaying, -1);
    if (source != -1) station.spawn(eventSwitch(station, source, SwitchCause::Watchdog));
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
    if (station.switching.taken()) return false;
    const auto& state = station.state;
    if (!running->any() && state.CurrentSource != -1) {
        return restartAfterOutage(station, *running);  // or later, when restarted lately
    }
    if (state.PendingSource != -1) station.spawn(retryPendingSource(station));
    return false;
}

}  // namespace kestrel
