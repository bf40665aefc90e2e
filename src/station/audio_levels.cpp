#include "station/audio_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrel {
namespace {

// Levels are taken over this span, as a meter's ballistics would.
constexpr double kWindowSeconds = 0.3;
// A counter that has not risen for this long means the player decodes nothing.
constexpr double kFrozenSeconds = 1;

}  // namespace

bool hasSound(const ChannelLevels& levels, double levelDbfs) {
    return std::any_of(levels.rmsDbfs.begin(), levels.rmsDbfs.end(),
                       [&](double rms) { return rms >= levelDbfs; });
}

double shownDbfs(double dbfs) {
    return std::round(dbfs * 10) / 10;
}

double dbfs(double amplitude) {
    if (amplitude <= 0) return kSilenceDbfs;
    return std::max(kSilenceDbfs, 20 * std::log10(amplitude / 32768.0));
}

void SlotLevels::take(double nowSeconds, const std::optional<AudioBlock>& block) {
    if (!block) {
        *this = SlotLevels();
        return;
    }
    const bool rose = m_counter && *m_counter != block->counter;
    m_counter = block->counter;
    bool changed = rose;  // the levels follow from the recent blocks alone
    if (rose) {
        m_lastRise = nowSeconds;
        Sums sums{nowSeconds, std::vector<double>(block->channels),
                  std::vector<int>(block->channels), block->samples.size() / block->channels};
        for (int c = 0; c < block->channels; ++c) {
            const auto first = block->samples.begin() + c * sums.perChannel;
            for (auto s = first; s != first + sums.perChannel; ++s) {
                sums.squares[c] += static_cast<double>(*s) * *s;
                sums.peak[c] = std::max(sums.peak[c], std::abs(static_cast<int>(*s)));
            }
        }
        // A new player may bring another channel count; its blocks start afresh.
        if (!m_recent.empty() && m_recent.back().squares.size() != sums.squares.size())
            m_recent.clear();
        m_recent.push_back(std::move(sums));
    }
    // The latest block stays, however old, until the counter counts as frozen.
    while (m_recent.size() > 1 && nowSeconds - m_recent.front().at > kWindowSeconds) {
        m_recent.pop_front();
        changed = true;
    }
    if (!m_recent.empty() && (!m_lastRise || nowSeconds - *m_lastRise >= kFrozenSeconds)) {
        m_recent.clear();
        changed = true;
    }
    if (changed) recompute();
}

void SlotLevels::recompute() {
    if (m_recent.empty()) {
        m_levels.reset();
        return;
    }
    const std::size_t channels = m_recent.back().squares.size();
    ChannelLevels levels;
    for (std::size_t c = 0; c < channels; ++c) {
        double squares = 0;
        std::size_t count = 0;
        int peak = 0;
        for (const Sums& sums : m_recent) {
            squares += sums.squares[c];
            count += sums.perChannel;
            peak = std::max(peak, sums.peak[c]);
        }
        levels.rmsDbfs.push_back(dbfs(count == 0 ? 0 : std::sqrt(squares / count)));
        levels.peakDbfs.push_back(dbfs(peak));
    }
    m_levels = std::move(levels);
}

}  // namespace kestrel
