#pragma once

#include <cstdint>
#include <optional>

namespace kestrel {

/// The sound device as the players find it.
struct OutputState {
    /// A player could not open the device, or the device it played on went
    /// away or stuck; false again once a new player plays.
    bool failed = false;
    double lastTriedAt = 0;                 ///< steady seconds a player last found no output
    std::optional<double> lastErrorLineAt;  ///< steady seconds of the last OUTPUT FAILED line
    std::uint64_t failures = 0;             ///< failures declared since start-up
};

}  // namespace kestrel
