#include "monitoring/short_term_loudness.h"

#include <cmath>
#include <limits>

namespace kestrel {
namespace {

constexpr double kWindowSeconds = 3;
// Too few blocks to tell, or a player that has stopped handing them over.
constexpr double kFewestSeconds = 0.5;
constexpr double kStaleSeconds = 1;
// BS.1770: loudness = -0.691 + 10 log10(mean square of the K-weighted signal).
constexpr double kOffset = -0.691;

}  // namespace

void ShortTermLoudness::add(double nowSeconds, double blockLufs) {
    const double energy = std::isfinite(blockLufs) ? std::pow(10.0, (blockLufs - kOffset) / 10) : 0;
    m_blocks.push_back({nowSeconds, energy});
    while (!m_blocks.empty() && nowSeconds - m_blocks.front().at > kWindowSeconds)
        m_blocks.pop_front();
}

std::optional<double> ShortTermLoudness::lufs(double nowSeconds) const {
    if (m_blocks.empty() || nowSeconds - m_blocks.back().at > kStaleSeconds) return std::nullopt;
    if (m_blocks.back().at - m_blocks.front().at < kFewestSeconds) return std::nullopt;
    double sum = 0;
    std::size_t count = 0;
    for (const Block& block : m_blocks) {
        if (nowSeconds - block.at > kWindowSeconds) continue;
        sum += block.energy;
        ++count;
    }
    if (count == 0 || sum <= 0) return -std::numeric_limits<double>::infinity();
    return kOffset + 10 * std::log10(sum / static_cast<double>(count));
}

}  // namespace kestrel
