#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/loudness_state.h"

namespace kestrel {

/// Gains bring a source at most this far up or down.
inline constexpr double kMostGainDb = 12;
/// Short-term loudness below this is a pause: no estimate or gain moves on it.
inline constexpr double kLoudnessGateLufs = -50;
/// A source heard for less than this is still settling: its gain moves faster.
inline constexpr double kSettlingSeconds = 10;

/// Takes `shortTermLufs`, heard for `seconds`, into the source's estimate:
/// the mean of all that was heard while that is little, then a mean that
/// follows the last minute or so. A value below the gate changes nothing.
void takeIntoEstimate(SourceLoudness& source, double shortTermLufs, double seconds);

/// The gain that brings `estimateLufs` to `targetLufs`, within ±12 dB.
double wantedGainDb(double targetLufs, double estimateLufs);

/// The gain `seconds` after `currentDb` on the way to `wantedDb`: at most
/// 1 dB a second, so that a programme's own dynamics stay; 4 dB a second
/// while the source is `settling`, so that one heard for the first time has
/// its level within 10 s.
double nextGainDb(double currentDb, double wantedDb, double seconds, bool settling);

/// The estimate a player of `source` on `address` starts with: the source's
/// own (measured on that address); else the mean of the other sources'
/// estimates, the nearest guess at a relayed stream's level; else none.
std::optional<double> startEstimate(const LoudnessState& loudness, std::int16_t source,
                                    const std::string& address);

/// The gain a new player of `source` starts at under `targetLufs` (0: off).
double startGainDb(const LoudnessState& loudness, std::int16_t source, const std::string& address,
                   int targetLufs);

/// One source's loudness as the station shows it.
struct LoudnessRow {
    std::int16_t source = -1;
    int slot = 0;                        ///< the slot playing it; 0 none
    std::optional<double> lufs;          ///< short-term, while it plays and can be measured
    double gainDb = 0;                   ///< the gain it plays, or would start, at
    std::optional<double> estimateLufs;  ///< what the station expects of it
};

/// The sources that play or have an estimate, by number; a source in both
/// slots shows as the slot whose player started last.
std::vector<LoudnessRow> loudnessRows(const LoudnessState& loudness, int targetLufs);

/// "-17.9 LUFS +2.0 dB": what `slot`'s player sends and the gain it plays
/// at; empty while it cannot be measured.
std::string slotLoudnessText(const LoudnessState& loudness, int slot);

}  // namespace kestrel
