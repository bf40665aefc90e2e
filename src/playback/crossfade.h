#pragma once

#include "station/station.h"

namespace kestrel {

/// A fade moves a player's level at most this fast: under 1 dB per chunk
/// MPlayer decodes (26 ms of an MP3 frame, longer when its loop is late),
/// as a larger step clicks.
inline constexpr double kFadeDbPerSecond = 25;

/// The fade on top of an incoming player's gain, `progress` (0..1) of the way
/// through a crossfade of `seconds`, in dB: from the floor up to -6 dB in the
/// first half, then up to 0. The outgoing player is at fadeInDb(1 - progress),
/// so the two cross at -6 dB (together as loud as either alone) and never are
/// both within 6 dB of their level. The floor is as deep as the speed
/// allows, down to -60 dB.
double fadeInDb(double progress, double seconds);

enum class FadeEnd {
    Faded,           ///< the new player is at its level, the old one at the floor
    NotControlled,   ///< the new player takes no volume (a program of the engineer's own)
    NewPlayerEnded,  ///< the new player ended during the fade: the old one is back at its level
};

/// Fades `newSlot`'s player in and `oldSlot`'s out over `seconds`, sending
/// both players their volume every 10 ms, on top of their loudness gains.
/// A new player that takes no volume is left at its own level, the old one
/// at its: the switch goes on as without a fade.
Task<FadeEnd> crossfade(Station& station, int newSlot, int oldSlot, double seconds);

}  // namespace kestrel
