#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

/// Journals what start-up finds wrong with the configuration it has just
/// read: a missing configuration file, source list or schedule, the API
/// allowed without a key of its own, and flags that are neither "1" nor "0"
/// (only exactly "1" is on). `absent` is what an absent key reads as.
void journalConfigurationProblems(Station& station, const std::string& checkSource,
                                  const std::string& absent);

}  // namespace kestrel
