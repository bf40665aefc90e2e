#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "station/loudness_state.h"

namespace kestrel {

/// The station's own file of the sources' loudness, kept across restarts.
inline constexpr const char* kLoudnessFile = "loudness.txt";

/// Reads its lines, "3 -14.2 http://host/stream" (source, LUFS, the address
/// it was measured on); a line that is not that is passed over.
std::map<std::int16_t, SourceLoudness> parseLoudnessEstimates(std::string_view text);

/// The file's text for the estimates of sources heard long enough, CR LF ended.
std::string formatLoudnessEstimates(const std::map<std::int16_t, SourceLoudness>& sources);

}  // namespace kestrel
