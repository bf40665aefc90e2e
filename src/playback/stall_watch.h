#pragma once

#include <cstdint>
#include <optional>

namespace kestrel {

/// Tells a stalled stream from an underrun that recovers. MPlayer writes a
/// "Cache empty" line whenever its cache runs dry; when the slot's processes
/// have then taken in nothing for two seconds (counted before the line as
/// well: its cache held a few seconds more), the server has stopped sending
/// and the player will stay silent until it gives up, half a minute later.
/// An underrun while data still trickles in is left to MPlayer.
class StallWatch {
public:
    /// One look at the on-air slot at `nowSeconds` (steady clock): how many
    /// "Cache empty" lines its log holds, the bytes its processes have read
    /// (nullopt: unknown), and when its player last decoded a block (nullopt:
    /// its audio cannot be seen). True while the stream is stalled: a new
    /// line came, the intake has not grown since, and not for two seconds, or the
    /// player has decoded nothing and taken in nothing for two seconds (one
    /// that prints nothing). An unknown intake never counts as stalled.
    bool stalled(double nowSeconds, std::uint32_t cacheEmptyLines,
                 std::optional<std::uint64_t> bytesRead, std::optional<double> lastDecoded = {});

    /// Starts over with a new player (or none).
    void reset() { *this = StallWatch(); }

private:
    std::uint32_t m_linesSeen = 0;
    std::optional<double> m_silentSince;  ///< when the latest new line was seen
    std::optional<std::uint64_t> m_bytesThen;
    std::optional<std::uint64_t> m_lastBytes;
    double m_bytesChangedAt = 0;  ///< when the intake was last seen growing
};

}  // namespace kestrel
