#include "playback/loudness_estimates.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/text_lines.h"
#include "playback/loudness_gain.h"

namespace kestrel {
namespace {

// A loudness no stream has: the rest of the line is garbled.
constexpr double kQuietestLufs = -70;
constexpr double kLoudestLufs = 10;

}  // namespace

std::map<std::int16_t, SourceLoudness> parseLoudnessEstimates(std::string_view text) {
    std::map<std::int16_t, SourceLoudness> sources;
    for (const std::string& line : splitLines(std::string(text))) {
        if (line.size() < 5 || line[0] < '0' || line[0] > '9' || line[1] != ' ') continue;
        const char* begin = line.c_str() + 2;
        char* end = nullptr;
        const double lufs = std::strtod(begin, &end);
        if (end == begin || *end != ' ' || !std::isfinite(lufs) || lufs < kQuietestLufs ||
            lufs > kLoudestLufs) {
            continue;
        }
        const std::string address(end + 1);
        if (address.empty() || address.find(' ') != std::string::npos) continue;
        sources[static_cast<std::int16_t>(line[0] - '0')] = {address, lufs, kSettlingSeconds};
    }
    return sources;
}

std::string formatLoudnessEstimates(const std::map<std::int16_t, SourceLoudness>& sources) {
    std::string text;
    for (const auto& [source, loudness] : sources) {
        if (source < 0 || source > 9 || loudness.heardSeconds < kSettlingSeconds) continue;
        if (loudness.address.empty() ||
            loudness.address.find_first_of(" \r\n") != std::string::npos)
            continue;
        char figure[32];
        std::snprintf(figure, sizeof figure, "%d %.1f ", source, loudness.estimateLufs);
        text += figure + loudness.address + "\r\n";
    }
    return text;
}

}  // namespace kestrel
