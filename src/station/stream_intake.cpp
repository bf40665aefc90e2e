#include "station/stream_intake.h"

namespace kestrel {

void StreamIntake::sample(int slot, double nowSeconds, std::optional<std::uint64_t> bytesRead) {
    Slot& s = at(slot);
    if (!bytesRead) {
        s.lastBytes.reset();
        s.bitsPerSecond.reset();
        return;
    }
    // A count below the last one belongs to a new player, which started from nothing.
    const bool samePlayer = s.lastBytes && *bytesRead >= *s.lastBytes;
    const std::uint64_t gained = samePlayer ? *bytesRead - *s.lastBytes : *bytesRead;
    s.total += gained;
    const double seconds = nowSeconds - s.lastAt;
    if (s.lastBytes && seconds > 0) {
        s.bitsPerSecond = static_cast<double>(gained) * 8 / seconds;
    } else {
        s.bitsPerSecond.reset();
    }
    s.lastBytes = bytesRead;
    s.lastAt = nowSeconds;
}

}  // namespace kestrel
