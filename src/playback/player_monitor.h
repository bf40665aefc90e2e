#pragma once

#include <optional>
#include <string>

#include "metadata/player_log_reader.h"
#include "playback/stall_watch.h"
#include "station/station.h"

namespace kestrel {

/// The received bit rate as the window shows it: "128 kbit/s", or "None".
std::string receivedRateText(std::optional<double> bitsPerSecond);

/// Looks at the players every second, so that dead air lasts seconds, not
/// a watchdog period: samples what each slot takes in, restarts the source
/// at once when no player runs (as the 15-second watchdog would, in either
/// mode), and restarts it in the other slot when its stream has stalled.
class PlayerMonitor {
public:
    explicit PlayerMonitor(Station& station) : m_station(station) {}

    /// `tmrCheckPlayers`: one look. True when it has handed a dead player's
    /// source back (WasPlaying) for `startHandedBackSource`.
    bool tmrCheckPlayers();

private:
    /// A "STALL " line and the source started again in the other slot, by
    /// the normal switch (the silent player ends once the new one plays).
    void restartStalledSource();

    Station& m_station;
    int m_watchedSlot = 0;  ///< the on-air slot the stall watch follows
    PlayerLogReader m_log;
    StallWatch m_stall;
};

}  // namespace kestrel
