#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kestrel {

/// What the station has measured of a source's loudness, kept across restarts.
struct SourceLoudness {
    std::string address;      ///< the stream it was measured on
    double estimateLufs = 0;  ///< its loudness over the last minute or so of sound
    double heardSeconds = 0;  ///< seconds of sound behind the estimate
};

/// The player of a slot as the loudness control sees it.
struct SlotLoudness {
    std::int16_t source = -1;  ///< the source its player was started with; -1 none
    std::string address;
    std::uint64_t starts = 0;             ///< rises with every player started in the slot
    std::optional<double> shortTermLufs;  ///< what it sends, over the last 3 s
    double gainDb = 0;                    ///< the loudness gain it plays at
    std::optional<double> fadeDb = 0.0;   ///< a fade on top; nullopt: muted
    std::optional<double> volume;         ///< the volume it was last given
};

/// Loudness of the sources and the gains of the players.
struct LoudnessState {
    std::map<std::int16_t, SourceLoudness> sources;
    std::array<SlotLoudness, 2> bySlot;

    SlotLoudness& slot(int n) { return bySlot[n == 2 ? 1 : 0]; }
    const SlotLoudness& slot(int n) const { return bySlot[n == 2 ? 1 : 0]; }
};

}  // namespace kestrel
