#pragma once

#include <deque>
#include <optional>

namespace kestrel {

/// Short-term loudness (the last 3 s) of one player from the loudness of the
/// blocks it hands over, spread over those seconds: their mean energy, as
/// BS.1770 averages. The blocks are samples of the programme, not all of it,
/// so the figure is an estimate of the same measure.
class ShortTermLoudness {
public:
    /// A block measured at `nowSeconds` (steady clock); -infinity is digital silence.
    void add(double nowSeconds, double blockLufs);

    /// LUFS over the last 3 s; nullopt until blocks of half a second have
    /// come in, or when none has come for a second. -infinity: silence.
    std::optional<double> lufs(double nowSeconds) const;

    void reset() { m_blocks.clear(); }

private:
    struct Block {
        double at;
        double energy;
    };
    std::deque<Block> m_blocks;
};

}  // namespace kestrel
