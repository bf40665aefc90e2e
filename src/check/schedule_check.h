#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "check/config_check.h"
#include "check/findings.h"
#include "playback/source_list.h"

namespace kestrel {

/// Checks sourceevents.ini in `dir` with the schedule's own line filter:
/// lines it skips, weekdays and times that never come, sources that are no
/// digit or (with `sources` known) have no usable address, and events that
/// another event of the same day and minute keeps from firing. A missing
/// file is fine while the management server supplies the schedule.
void checkSchedule(const std::filesystem::path& dir, const ConfigFacts& config,
                   const std::optional<SourceTable>& sources, Findings& findings);

/// The same checks on the schedule's bytes, `text`.
void checkScheduleText(std::string_view text, const std::optional<SourceTable>& sources,
                       Findings& findings);

}  // namespace kestrel
