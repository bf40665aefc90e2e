#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/history.h"

namespace kestrel {

/// What the look back shows of a span of the history.
struct Timeline {
    double from = 0;  ///< seconds since 1970 UTC
    double to = 0;

    /// A source on air from `from` to `to`, for `cause`.
    struct OnAir {
        double from = 0;
        double to = 0;
        int source = 0;
        std::string cause;
    };
    enum class Kind { Order, Failover, Outage, Stall, Silence, FailedSwitch };
    struct Mark {
        double at = 0;
        Kind kind = Kind::Order;
        std::string text;  ///< what happened, for the tooltip
    };
    /// The on-air slot's mean RMS over the minute that begins at `at`.
    struct Level {
        double at = 0;
        double rmsDbfs = 0;
    };

    std::vector<OnAir> onAir;
    std::vector<Mark> marks;
    std::vector<Level> levels;
};

/// The history's last `span` seconds before `now`: what was on air (a switch
/// puts its source on air until the next switch; a start of the station ends
/// it), the orders, failovers, outages, stalls, silences and failed switches,
/// and the minute levels.
Timeline timelineOf(const History& history, double now, double span = 24 * 3600);

/// The timeline as an SVG picture: an hour scale in local time (`localOffset`
/// seconds ahead of UTC), a lane for what was on air, one for orders, one for
/// what went wrong and the level strip with `silenceLevel` marked.
std::string timelinePicture(const Timeline& timeline, std::int64_t localOffset, int silenceLevel);

}  // namespace kestrel
