#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel {

/// Longest value a profile read returns (the station reads into 120 characters).
inline constexpr std::size_t kProfileValueMax = 119;

/// Reads one value from an INI file the way the station always has: section and
/// key without regard to case, the first occurrence wins, the text after the
/// first "=" with blanks around it and one pair of enclosing quotes removed,
/// ended at a NUL and cut to 119 characters. An absent file, section or key
/// gives `defaultText`. Lines may end in CR LF, LF or a lone CR; lines that
/// begin with ";" are comments.
std::string readProfileString(const std::filesystem::path& file, const std::string& section,
                              const std::string& key, const std::string& defaultText);

/// One line of a profile file as the reader sees it.
struct ProfileLine {
    enum class Kind { Blank, Comment, Section, Entry, NoEquals };
    Kind kind = Kind::Blank;
    std::string_view name;   ///< section name or key, blanks trimmed
    std::string_view value;  ///< an entry's value as read, before the cut to 119 characters
};

/// Classifies one line: blank, comment (";"), section header ("[name]"),
/// entry ("key=value") or a line without "=".
ProfileLine parseProfileLine(std::string_view line);

/// Section and key names are compared without regard to case.
bool sameProfileName(std::string_view a, std::string_view b);

/// The number the leading characters of `text` form ("2.5abc" gives 2.5,
/// "abc" gives 0), rounded half to even and clamped to the 16-bit range.
std::int16_t profileNumber(const std::string& text);

/// The number the leading characters of `text` form, 0 when none.
double leadingNumber(const std::string& text);

}  // namespace kestrel
