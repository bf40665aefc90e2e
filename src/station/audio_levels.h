#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/level_tap.h"

namespace kestrel {

/// What a slot sounds like: RMS and peak per channel in dBFS, digital
/// silence reading kSilenceDbfs.
struct ChannelLevels {
    std::vector<double> rmsDbfs;
    std::vector<double> peakDbfs;
};

inline constexpr double kSilenceDbfs = -120;

/// One slot's levels from the blocks its player hands over, read several
/// times a second. Unknown is never silence: a slot has levels only while
/// its counter keeps rising.
class SlotLevels {
public:
    /// One read at `nowSeconds` (steady clock); nullopt: no file, or garbled.
    void take(double nowSeconds, const std::optional<AudioBlock>& block);

    /// Over the blocks of the last 300 ms; nullopt while there is no data (no
    /// file, or a counter that has not risen for a second).
    const std::optional<ChannelLevels>& levels() const { return m_levels; }

    /// When the counter was last seen rising; nullopt when never since the
    /// file last went missing.
    std::optional<double> lastRise() const { return m_lastRise; }

    /// True when the counter rose after `sinceSeconds`: the player decodes.
    bool decodedSince(double sinceSeconds) const {
        return m_lastRise && *m_lastRise > sinceSeconds;
    }

private:
    struct Sums {
        double at = 0;
        std::vector<double> squares;  ///< per channel
        std::vector<int> peak;        ///< per channel, absolute
        std::size_t perChannel = 0;
    };
    void recompute();

    std::optional<std::uint64_t> m_counter;
    std::optional<double> m_lastRise;
    std::deque<Sums> m_recent;
    std::optional<ChannelLevels> m_levels;
};

/// Both slots' levels, as heard (after the slot's gain) and as the source
/// sends them (before it).
struct AudioLevels {
    std::array<SlotLevels, 2> bySlot;
    std::array<SlotLevels, 2> sentBySlot;

    SlotLevels& slot(int n) { return bySlot[n == 2 ? 1 : 0]; }
    const SlotLevels& slot(int n) const { return bySlot[n == 2 ? 1 : 0]; }
    SlotLevels& sent(int n) { return sentBySlot[n == 2 ? 1 : 0]; }
    const SlotLevels& sent(int n) const { return sentBySlot[n == 2 ? 1 : 0]; }
    /// What a source is judged by (silence, sound, decoding): what it sends,
    /// or what is heard of a player that hands over only that.
    const SlotLevels& judged(int n) const { return sent(n).lastRise() ? sent(n) : slot(n); }
    /// Slot 0 (nothing on air) has no data.
    std::optional<ChannelLevels> of(int n) const {
        return n == 0 ? std::nullopt : slot(n).levels();
    }
    /// The same of judged(n).
    std::optional<ChannelLevels> judgedOf(int n) const {
        return n == 0 ? std::nullopt : judged(n).levels();
    }
};

/// Whether some channel's RMS is at or above `levelDbfs`.
bool hasSound(const ChannelLevels& levels, double levelDbfs);

/// A level as the station shows it, to a tenth of a dB.
double shownDbfs(double dbfs);

/// `amplitude` of full scale 32768 in dBFS; 0 reads kSilenceDbfs.
double dbfs(double amplitude);

}  // namespace kestrel
