#pragma once

#include <optional>
#include <string>

#include "metadata/player_log_reader.h"
#include "playback/output_watch.h"
#include "playback/stall_watch.h"
#include "station/station.h"

namespace kestrel {

/// The received bit rate as the window shows it: "128 kbit/s", or "None".
std::string receivedRateText(std::optional<double> bitsPerSecond);

/// Looks at the players every second, and at once when the runner tells
/// that a player ended, so that dead air lasts a player's start, not a
/// watchdog period: samples what each slot takes in, records an outage when
/// no player runs (as the 15-second watchdog would, in either mode) and a
/// stall when the stream on air has stalled; the reconciler then starts the
/// source again in the other slot. A player whose sound device went away
/// is stopped (see OutputWatch). Each look also lets the reconciler look
/// again, as retries and trials fall due with time.
class PlayerMonitor {
public:
    explicit PlayerMonitor(Station& station) : m_station(station) {}

    /// `tmrCheckPlayers`: one look.
    void tmrCheckPlayers();

    /// The runner tells that the player it started last in `slot` ended: a
    /// player of the slot on air is looked for now.
    void playerEnded(int slot);

private:
    /// A "STALL " line, and the source to start again in the other slot (the
    /// silent player ends once the new one plays).
    void recordStalledSource();

    Station& m_station;
    int m_watchedSlot = 0;  ///< the on-air slot the stall watch follows
    PlayerLogReader m_log;
    bool m_logIsNew = true;  ///< the next read of m_log is its first
    StallWatch m_stall;
    OutputWatch m_output{m_station};
};

}  // namespace kestrel
