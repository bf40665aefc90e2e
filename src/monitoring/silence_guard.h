#pragma once

#include "monitoring/silence_watch.h"
#include "station/station.h"

namespace kestrel {

/// Listens to what the players decode, ten times a second: keeps both slots'
/// levels, declares a silence on air (the SILENCE label, an "error.log" line,
/// a journal line), replaces a silent source other than 0 by source 0 in
/// automatic mode, and tries the held source again every minute from the
/// declaration until it has sound or someone else switches.
class SilenceGuard {
public:
    explicit SilenceGuard(Station& station) : m_station(station) {}

    /// One look at the air at `nowSeconds`, once both slots' levels are read.
    void look(double nowSeconds);

private:
    void declare(std::int16_t source, double now);
    void tryHeldSource(double now);

    Station& m_station;
    SilenceWatch m_watch;
};

}  // namespace kestrel
