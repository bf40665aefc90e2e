#include "platform/ebur128_loudness_meter.h"

#include <ebur128.h>

#include <cmath>
#include <limits>

#include "platform/station_command.h"

namespace kestrel {
namespace {

void forget(void*& state) {
    auto* st = static_cast<ebur128_state*>(state);
    ebur128_destroy(&st);
    state = nullptr;
}

// The longest block measured in one piece: the window a momentary-mode state
// keeps (400 ms); the export filter hands over 512 samples per channel, at
// most 2048. (Widening it costs libebur128 seconds.)
constexpr unsigned long kLongestBlockMs = 400;

}  // namespace

Ebur128LoudnessMeter::Ebur128LoudnessMeter() = default;

Ebur128LoudnessMeter::~Ebur128LoudnessMeter() {
    for (Slot& slot : m_slots)
        if (slot.state) forget(slot.state);
}

std::optional<double> Ebur128LoudnessMeter::blockLoudness(int slotNumber, const AudioBlock& block,
                                                          int sampleRate) {
    if (!isPlayerSlot(slotNumber) || block.channels < 1 || sampleRate < 8000 ||
        sampleRate > 384000 || block.samples.empty()) {
        return std::nullopt;
    }
    Slot& slot = m_slots[slotNumber - 1];
    if (slot.state && (slot.rate != sampleRate || slot.channels != block.channels))
        forget(slot.state);
    if (!slot.state) {
        slot.state = ebur128_init(static_cast<unsigned>(block.channels),
                                  static_cast<unsigned long>(sampleRate), EBUR128_MODE_M);
        if (!slot.state) return std::nullopt;
        slot.rate = sampleRate;
        slot.channels = block.channels;
    }
    // The export file holds one channel after the other; libebur128 takes
    // them interleaved.
    const std::size_t frames = block.samples.size() / static_cast<std::size_t>(block.channels);
    std::vector<short> interleaved(frames * static_cast<std::size_t>(block.channels));
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < block.channels; ++c)
            interleaved[f * block.channels + c] = block.samples[c * frames + f];
    auto* state = static_cast<ebur128_state*>(slot.state);
    if (ebur128_add_frames_short(state, interleaved.data(), frames) != EBUR128_SUCCESS)
        return std::nullopt;
    const unsigned long windowMs = frames * 1000 / static_cast<unsigned long>(sampleRate);
    if (windowMs == 0 || windowMs > kLongestBlockMs) return std::nullopt;
    double lufs = 0;
    if (ebur128_loudness_window(state, windowMs, &lufs) != EBUR128_SUCCESS) return std::nullopt;
    if (std::isnan(lufs)) return std::nullopt;
    return lufs;
}

}  // namespace kestrel
