#pragma once

#include <filesystem>
#include <ostream>
#include <string_view>

#include "check/findings.h"

namespace kestrel {

/// Exit statuses of the configuration check.
inline constexpr int kCheckClean = 0;
inline constexpr int kCheckFoundProblems = 1;
inline constexpr int kCheckCannotRead = 2;

/// The problems of kestrelfield.ini, sourcelist.ini and sourceevents.ini in
/// the station directory `dir`, whose path is what an absent key reads as.
Findings stationFindings(const std::filesystem::path& dir);

/// What the checks find in `text` as the content of sourcelist.ini or
/// sourceevents.ini (`name`) of `dir`; the schedule is checked against the
/// source list of `dir`.
Findings checkFileText(const std::filesystem::path& dir, std::string_view name,
                       std::string_view text);

/// Checks kestrelfield.ini, sourcelist.ini and sourceevents.ini of `dir`
/// with the station's own readers. Prints each problem to `out` as
/// "FILE:LINE: message" (FILE alone for the whole file), with FILE named as
/// `dir` was given, then a one-line summary. A directory that cannot be read
/// is reported to `err` alone.
int checkStation(const std::filesystem::path& dir, std::ostream& out, std::ostream& err);

}  // namespace kestrel
