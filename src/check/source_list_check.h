#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "check/findings.h"
#include "playback/source_list.h"

namespace kestrel {

/// Checks sourcelist.ini in `dir`: lines the switch's lookup ignores, names
/// and addresses given twice, addresses too short to be used or not web
/// addresses, names without an address. Gives the sources as a switch finds
/// them, or nullopt when the file cannot be read.
std::optional<SourceTable> checkSourceList(const std::filesystem::path& dir, Findings& findings);

/// The same checks on the source list's bytes, `text`.
SourceTable checkSourceListText(std::string_view text, Findings& findings);

}  // namespace kestrel
