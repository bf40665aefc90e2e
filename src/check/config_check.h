#pragma once

#include <filesystem>
#include <string>

#include "check/findings.h"

namespace kestrel {

/// What the other files' checks need to know of the configuration.
struct ConfigFacts {
    bool managementOn = false;  ///< the schedule then comes from the server
};

/// Checks kestrelfield.ini in `dir` against the station's own reading of it:
/// lines the reader ignores, unknown or repeated keys, flags and numbers that
/// read otherwise than written, cut values, URLs that are no web addresses,
/// and features switched on without the keys they need. `directoryText` is
/// what an absent key reads as (the station directory's path).
ConfigFacts checkConfig(const std::filesystem::path& dir, const std::string& directoryText,
                        Findings& findings);

}  // namespace kestrel
