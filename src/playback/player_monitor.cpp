#include "playback/player_monitor.h"

#include <array>
#include <cmath>
#include <optional>

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "playback/player_watchdog.h"
#include "playback/switch_procedure.h"
#include "station/station_events.h"

namespace kestrel {

std::string receivedRateText(std::optional<double> bitsPerSecond) {
    if (!bitsPerSecond) return "None";
    return std::to_string(std::llround(*bitsPerSecond / 1000)) + " kbit/s";
}

bool PlayerMonitor::tmrCheckPlayers() {
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
        m_stall.reset();
    }

    const auto running = lookAtSlots(station);
    // A switch that runs changes the slots; it is left to finish.
    if (station.switching.taken()) return false;
    if (running && restartAfterOutage(station, *running)) return true;
    if (running && deadSourceRetryDue(station, *running))
        station.spawn(retryPendingSource(station));

    if (onAir == 0) return false;
    std::uint32_t cacheEmptyLines = 0;
    if (m_log.update(station.file(playerLogFile(onAir))) == PlayerLogReader::Outcome::Read)
        cacheEmptyLines = m_log.fields().cacheEmptyLines;
    if (m_stall.stalled(now, cacheEmptyLines, bytes[onAir - 1],
                        station.audio.judged(onAir).lastRise()) &&
        mayRestart(station, state.CurrentSource)) {
        restartStalledSource();
    }
    return false;
}

void PlayerMonitor::restartStalledSource() {
    Station& station = m_station;
    const std::int16_t source = station.state.CurrentSource;
    noteRestart(station, source);
    recordStall(station, source, m_watchedSlot);
    appendToErrorLog(station, kStallEntry, source);
    station.spawn(eventSwitch(station, source, SwitchCause::Stall));
}

}  // namespace kestrel
