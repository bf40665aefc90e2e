#pragma once

#include <cstdint>

#include "metadata/player_log.h"
#include "station/station.h"

namespace kestrel {

/// While the sound device fails, a player is started this often at most.
inline constexpr double kOutputTryEverySeconds = 5;

/// Whether a player's log, all of it written by one player, says that it
/// has no sound output: it could not open the device, or the device went
/// away or stuck while it played (several such lines: one is a hiccup).
bool reportsNoOutput(const PlayerLogFields& fields);

/// A player in `slot`, playing `source`, found no output. The first such
/// finding declares the failure: the window and the page show it; a journal
/// line and an "OUTPUT FAILED" line in error.log follow at most every 15 s.
/// No source is held to blame; the next player starts 5 s later at the earliest.
void declareOutputFailure(Station& station, int slot, std::int16_t source);

/// A new player plays: the output answers again.
void outputAnswers(Station& station);

/// Steady seconds from which a player may start again: 0 while the output answers.
double outputTryDueAt(const OutputState& output);

/// Watches the on-air player's log, as the player monitor reads it every
/// second, for a device that went away or stuck under it. Such a player is
/// stopped (its log would grow by some 33 lines a second) and its source
/// handed back (WasPlaying), to start again once a try of the device is due.
class OutputWatch {
public:
    explicit OutputWatch(Station& station) : m_station(station) {}

    /// The log of the on-air `slot` now counts `stuckLines` lines of a lost
    /// device; `newLog`: it is read afresh (another slot or player). True
    /// when that player was stopped.
    bool stoppedStuckPlayer(int slot, std::uint32_t stuckLines, bool newLog);

private:
    Station& m_station;
    std::uint32_t m_stuckLines = 0;
};

}  // namespace kestrel
