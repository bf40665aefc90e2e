#include "playback/loudness_gain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace kestrel {
namespace {

// An estimate follows this many seconds of sound once it has that much.
constexpr double kFollowSeconds = 60;
constexpr double kMostDbPerSecond = 1;
constexpr double kSettlingDbPerSecond = 4;

}  // namespace

void takeIntoEstimate(SourceLoudness& source, double shortTermLufs, double seconds) {
    if (!(shortTermLufs >= kLoudnessGateLufs) || seconds <= 0) return;
    const double span = std::min(source.heardSeconds + seconds, kFollowSeconds);
    source.estimateLufs += (shortTermLufs - source.estimateLufs) * (seconds / span);
    source.heardSeconds += seconds;
}

double wantedGainDb(double targetLufs, double estimateLufs) {
    return std::clamp(targetLufs - estimateLufs, -kMostGainDb, kMostGainDb);
}

double nextGainDb(double currentDb, double wantedDb, double seconds, bool settling) {
    const double most =
        (settling ? kSettlingDbPerSecond : kMostDbPerSecond) * std::max(seconds, 0.0);
    return std::clamp(currentDb + std::clamp(wantedDb - currentDb, -most, most), -kMostGainDb,
                      kMostGainDb);
}

std::optional<double> startEstimate(const LoudnessState& loudness, std::int16_t source,
                                    const std::string& address) {
    const auto own = loudness.sources.find(source);
    if (own != loudness.sources.end() && own->second.address == address &&
        own->second.heardSeconds > 0) {
        return own->second.estimateLufs;
    }
    double sum = 0;
    int count = 0;
    for (const auto& [number, other] : loudness.sources) {
        if (number == source || other.heardSeconds < kSettlingSeconds) continue;
        sum += other.estimateLufs;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return sum / count;
}

double startGainDb(const LoudnessState& loudness, std::int16_t source, const std::string& address,
                   int targetLufs) {
    if (targetLufs == 0) return 0;
    const auto estimate = startEstimate(loudness, source, address);
    return estimate ? wantedGainDb(targetLufs, *estimate) : 0;
}

std::string slotLoudnessText(const LoudnessState& loudness, int slot) {
    const SlotLoudness& player = loudness.slot(slot);
    if (player.source < 0 || !player.shortTermLufs || !std::isfinite(*player.shortTermLufs))
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%.1f LUFS %+.1f dB", *player.shortTermLufs, player.gainDb);
    return text;
}

std::vector<LoudnessRow> loudnessRows(const LoudnessState& loudness, int targetLufs) {
    std::map<std::int16_t, LoudnessRow> rows;
    for (const auto& [source, known] : loudness.sources) {
        if (known.heardSeconds <= 0) continue;
        LoudnessRow& row = rows[source];
        row.source = source;
        row.estimateLufs = known.estimateLufs;
        row.gainDb = startGainDb(loudness, source, known.address, targetLufs);
    }
    const auto later = loudness.slot(1).starts > loudness.slot(2).starts ? 1 : 2;
    for (const int slot : {later == 1 ? 2 : 1, later}) {
        const SlotLoudness& player = loudness.slot(slot);
        if (player.source < 0 || !player.volume || !player.shortTermLufs) continue;
        LoudnessRow& row = rows[player.source];
        row.source = player.source;
        row.slot = slot;
        row.lufs = std::isfinite(*player.shortTermLufs) ? player.shortTermLufs : std::nullopt;
        row.gainDb = player.gainDb;
    }
    std::vector<LoudnessRow> list;
    for (const auto& [source, row] : rows)
        list.push_back(row);
    return list;
}

}  // namespace kestrel
