#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "check/findings.h"

namespace kestrel {

/// Station files larger than this are not checked (a week of events once a
/// minute is some 120 KiB).
inline constexpr std::uintmax_t kLargestFileChecked = 4 * 1024 * 1024;

/// What the station does when it cannot read a file, for the finding.
struct FileRole {
    std::string_view name;
    std::string_view withoutIt;  ///< e.g. "nothing switches on schedule"
    bool mayBeMissing = false;   ///< a missing file is no problem
};

/// The bytes of `role.name` in `dir`. A file that is missing, a directory,
/// not a regular file (a FIFO would block), unreadable or larger than
/// kLargestFileChecked is reported as a finding of the whole file and gives
/// nullopt.
std::optional<std::string> readFileToCheck(const std::filesystem::path& dir, const FileRole& role,
                                           Findings& findings);

}  // namespace kestrel
