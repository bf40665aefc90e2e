#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every 10 s: reads the on-air slot's player log, shows the stream details
/// and title, and rewrites "metadata.txt" and "metaextra.txt".
class NowPlaying {
public:
    explicit NowPlaying(Station& station) : m_station(station) {}

    void tmrGetMetadata();

private:
    Station& m_station;
};

}  // namespace kestrel
