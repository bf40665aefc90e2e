#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "check/findings.h"

namespace kestrel {

/// What the other files' checks need to know of the configuration.
struct ConfigFacts {
    bool managementOn = false;  ///< the schedule then comes from the server
};

/// The example station's API key, which every reader of the example knows.
inline constexpr std::string_view kExampleApiKey = "demo-key";
/// Shorter API keys are reported when the API listens beyond loopback.
inline constexpr std::size_t kShortestApiKey = 12;

/// Checks kestrelfield.ini in `dir` against the station's own reading of it:
/// lines the reader ignores, unknown or repeated keys, flags and numbers that
/// read otherwise than written, cut values, URLs that are no web addresses,
/// features switched on without the keys they need, and an API open beyond
/// this machine with the example's key or a short one. `directoryText` is
/// what an absent key reads as (the station directory's path).
ConfigFacts checkConfig(const std::filesystem::path& dir, const std::string& directoryText,
                        Findings& findings);

}  // namespace kestrel
