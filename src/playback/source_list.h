#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr const char* kSourceListFile = "sourcelist.ini";
/// A switch to a source whose address is shorter than this keeps the source on air.
inline constexpr std::size_t kShortestAddress = 8;

struct SourceEntry {
    std::string name;
    std::string address;
};

/// Keyed lookup: the name and address of the source whose key is `key`.
/// Only a line whose first three characters are exactly key + "n:" or
/// key + "u:" matches, so only a one-character key can find anything; the
/// last matching line wins. A missing or unreadable file finds nothing.
SourceEntry lookupSource(const std::filesystem::path& file, const std::string& key);

/// The same keyed lookup over the list's bytes.
SourceEntry lookupSourceIn(std::string_view sourceListBytes, const std::string& key);

struct SourceTable {
    std::array<std::string, 10> names;
    std::array<std::string, 10> addresses;
};

/// The keyed lookup for the ten digit keys at once, over the file's bytes:
/// entry d equals lookupSource(file, d), all ten from one state of the file.
SourceTable lookupDigitSources(std::string_view sourceListBytes);

/// Table scan: every line not beginning with ";" whose second and third
/// characters are "n:" or "u:" fills the entry of its first character's digit
/// value (0 for anything but a digit); later lines overwrite earlier ones.
SourceTable scanSources(const std::filesystem::path& file);

}  // namespace kestrel
