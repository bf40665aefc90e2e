#pragma once

#include <array>
#include <memory>

#include "platform/loudness_meter.h"

namespace kestrel {

/// Loudness through libebur128: each slot keeps one state whose K-weighting
/// filters run across the blocks; a block's loudness is that of its own
/// samples.
class Ebur128LoudnessMeter final : public LoudnessMeter {
public:
    Ebur128LoudnessMeter();
    ~Ebur128LoudnessMeter() override;

    std::optional<double> blockLoudness(int slot, const AudioBlock& block, int sampleRate) override;

private:
    struct Slot {
        void* state = nullptr;  ///< an ebur128_state, kept out of this header
        int rate = 0;
        int channels = 0;
    };
    std::array<Slot, 2> m_slots;
};

}  // namespace kestrel
