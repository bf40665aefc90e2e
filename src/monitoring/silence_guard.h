#pragma once

#include "monitoring/silence_watch.h"
#include "station/station.h"

namespace kestrel {

/// Listens to what the players decode, ten times a second: keeps both slots'
/// levels, declares a silence on air (the SILENCE label, an "error.log" line,
/// a journal line) and, in automatic mode, holds a silent source other than
/// 0 off the air: the reconciler puts source 0 on air and tries the held
/// source every minute from the declaration. The hold ends when the held
/// source has sound again while still on air (its fall-back never played).
class SilenceGuard {
public:
    explicit SilenceGuard(Station& station) : m_station(station) {}

    /// One look at the air at `nowSeconds`, once both slots' levels are read.
    void look(double nowSeconds);

private:
    void declare(std::int16_t source, double now);

    Station& m_station;
    SilenceWatch m_watch;
};

}  // namespace kestrel
