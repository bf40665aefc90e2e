#include "playback/stall_watch.h"

#include "platform/clock.h"

namespace kestrel {
namespace {

// Seconds without intake that, with a "Cache empty" line, make a stall.
constexpr double kStallSeconds = 2;

}  // namespace

bool StallWatch::stalled(double nowSeconds, std::uint32_t cacheEmptyLines,
                         std::optional<std::uint64_t> bytesRead,
                         std::optional<double> lastDecoded) {
    if (bytesRead && bytesRead != m_lastBytes) m_bytesChangedAt = nowSeconds;
    if (!m_lastBytes) m_bytesChangedAt = nowSeconds;
    m_lastBytes = bytesRead;
    if (bytesRead && lastDecoded && steadySecondsPassed(*lastDecoded, nowSeconds, kStallSeconds) &&
        steadySecondsPassed(m_bytesChangedAt, nowSeconds, kStallSeconds)) {
        return true;
    }
    if (cacheEmptyLines < m_linesSeen) m_linesSeen = 0;  // a new log: its lines are all new
    if (cacheEmptyLines > m_linesSeen) {
        m_linesSeen = cacheEmptyLines;
        m_silentSince = nowSeconds;
        m_bytesThen = bytesRead;
    }
    if (!m_silentSince || !bytesRead) return false;
    if (!m_bytesThen || *bytesRead > *m_bytesThen) {
        // Data comes in again (or only now can be counted): an underrun that
        // MPlayer ends by itself once its cache has refilled.
        if (m_bytesThen) m_silentSince.reset();
        m_bytesThen = bytesRead;
        return false;
    }
    // The cache ran dry and the intake stood still for two seconds, mostly
    // before the line came: waiting longer would only lengthen the silence.
    return steadySecondsPassed(m_bytesChangedAt, nowSeconds, kStallSeconds);
}

}  // namespace kestrel
