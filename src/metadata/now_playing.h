#pragma once

#include "metadata/player_log_reader.h"
#include "station/station.h"

namespace kestrel {

/// Every 10 s: reads the on-air slot's player log, shows the stream details
/// and title, and rewrites "metadata.txt" and "metaextra.txt".
class NowPlaying {
public:
    explicit NowPlaying(Station& station) : m_station(station) {}

    /// Follows the log incrementally between ticks; the labels end up as a
    /// full re-read of the log would leave them. Both files are replaced
    /// atomically, so a reader never sees them empty or half-written.
    void tmrGetMetadata();

private:
    void readPlayerLog();

    Station& m_station;
    PlayerLogReader m_log;
    int m_logSlot = 0;  // the slot whose log m_log follows
};

/// The now-playing line: the stream title when longer than 6 characters,
/// else `defaultStrapline`, without a leading " - ".
std::string nowPlayingLine(const std::string& streamTitle, const std::string& defaultStrapline);

/// The extra line: the now-playing line with the lead-in unless the exception
/// text suppresses it, or the weather sentence during the weather minutes.
std::string extraLine(const std::string& nowPlaying, const StationState& state,
                      const std::string& weatherSentence);

}  // namespace kestrel
