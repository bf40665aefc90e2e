#include "playback/player_monitor.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "playback/player_watchdog.h"
#include "station/station_events.h"

namespace kestrel {

std::string receivedRateText(std::optional<double> bitsPerSecond) {
    if (!bitsPerSecond) return "None";
    return std::to_string(std::llround(*bitsPerSecond / 1000)) + " kbit/s";
}

void PlayerMonitor::playerEnded(int slot) {
    if (m_station.switching || slot != m_station.onAirSlot()) return;
    if (const auto running = lookAtSlots(m_station)) restartAfterOutage(m_station, *running);
}

void PlayerMonitor::tmrCheckPlayers() {
    Station& station = m_station;
    const auto& state = station.state;
    const double now = station.platform.clock.steadySeconds();
    std::array<std::optional<std::uint64_t>, 2> bytes;
    for (const int slot : {1, 2}) {
        bytes[slot - 1] = station.platform.processes.bytesRead(playerExecutable(slot));
        station.intake.sample(slot, now, bytes[slot - 1]);
    }
    const int onAir = station.onAirSlot();
    station.display.lblStreamReceived.caption =
        receivedRateText(station.intake.bitsPerSecond(onAir));
    if (onAir != m_watchedSlot) {
        m_watchedSlot = onAir;
        m_log.forget();
        m_logIsNew = true;
        m_stall.reset();
    }

    const auto running = lookAtSlots(station);
    // A switch that runs changes the slots; it is left to finish.
    if (station.switching) return;
    if (running && restartAfterOutage(station, *running)) return;
    // Retries and trials fall due with time.
    station.factsChanged();

    if (onAir == 0 || state.WasPlaying == state.CurrentSource) return;
    std::uint32_t cacheEmptyLines = 0;
    if (m_log.update(station.file(playerLogFile(onAir))) == PlayerLogReader::Outcome::Read) {
        const PlayerLogFields fields = m_log.fields();
        if (m_output.stoppedStuckPlayer(onAir, fields.outputStuckLines,
                                        std::exchange(m_logIsNew, false)))
            return;
        cacheEmptyLines = fields.cacheEmptyLines;
    }
    // A device that fails freezes every stream: no source is to blame.
    if (m_stall.stalled(now, cacheEmptyLines, bytes[onAir - 1],
                        station.audio.judged(onAir).lastRise()) &&
        mayRestart(station, state.CurrentSource) && !station.output.failed) {
        recordStalledSource();
    }
}

void PlayerMonitor::recordStalledSource() {
    Station& station = m_station;
    auto& state = station.state;
    const std::int16_t source = state.CurrentSource;
    noteRestart(station, source);
    recordStall(station, source, m_watchedSlot);
    appendToErrorLog(station, kStallEntry, source);
    state.WasPlaying = source;
    state.RestartCause = SwitchCause::Stall;
    station.factsChanged();
}

}  // namespace kestrel
