#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kestrel {

/// What the two player slots took in from their streams, from the bytes
/// their processes have read, sampled once a second.
class StreamIntake {
public:
    /// Takes one sample of `slot` (1 or 2) at `nowSeconds` (steady clock);
    /// nullopt when no player of the slot runs or its count cannot be read.
    void sample(int slot, double nowSeconds, std::optional<std::uint64_t> bytesRead);

    /// Bytes the slot has taken in since start-up, over all its players.
    std::uint64_t totalBytes(int slot) const { return at(slot).total; }
    /// The slot's intake over its last two samples in bits per second;
    /// nullopt when unknown (slot 0, no player, or a single sample so far).
    std::optional<double> bitsPerSecond(int slot) const {
        return slot == 0 ? std::nullopt : at(slot).bitsPerSecond;
    }

private:
    struct Slot {
        std::optional<std::uint64_t> lastBytes;
        double lastAt = 0;
        std::uint64_t total = 0;
        std::optional<double> bitsPerSecond;
    };
    Slot& at(int slot) { return m_slots[slot == 2 ? 1 : 0]; }
    const Slot& at(int slot) const { return m_slots[slot == 2 ? 1 : 0]; }

    std::array<Slot, 2> m_slots;
};

}  // namespace kestrel
