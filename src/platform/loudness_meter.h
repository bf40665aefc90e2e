#pragma once

#include <optional>

#include "platform/level_tap.h"

namespace kestrel {

/// Measures the K-weighted loudness (ITU-R BS.1770) of the blocks a player
/// slot hands over, one after the other.
class LoudnessMeter {
public:
    virtual ~LoudnessMeter() = default;

    /// The loudness of `block` in LUFS (-infinity for digital silence), its
    /// filters carried on from the slot's previous block; a new sample rate
    /// or channel count starts the slot afresh. nullopt: cannot be measured.
    virtual std::optional<double> blockLoudness(int slot, const AudioBlock& block,
                                                int sampleRate) = 0;
};

/// A meter that measures nothing.
LoudnessMeter& noLoudnessMeter();

}  // namespace kestrel
