#include "platform/profile_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>

#include "platform/text_lines.h"

namespace kestrel {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view valueOf(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    raw = trimBlanks(raw);
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front()) {
        raw = raw.substr(1, raw.size() - 2);
    }
    return raw;
}

}  // namespace

bool sameProfileName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

ProfileLine parseProfileLine(std::string_view line) {
    using Kind = ProfileLine::Kind;
    const auto text = trimBlanks(line);
    if (text.empty()) return {Kind::Blank, {}, {}};
    if (text.front() == ';') return {Kind::Comment, {}, {}};
    if (text.front() == '[') {
        const auto close = text.find(']');
        const auto name =
            text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        return {Kind::Section, trimBlanks(name), {}};
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) return {Kind::NoEquals, {}, {}};
    return {Kind::Entry, trimBlanks(text.substr(0, equals)), valueOf(text.substr(equals + 1))};
}

std::string readProfileString(const std::filesystem::path& file, const std::string& section,
                              const std::string& key, const std::string& defaultText) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return defaultText;

    bool inSection = false;
    std::string value;
    bool found = false;
    forEachLine(in, [&](std::string_view line) {
        const ProfileLine parsed = parseProfileLine(line);
        if (parsed.kind == ProfileLine::Kind::Section) {
            if (inSection) return false;  // the first matching section has ended
            inSection = sameProfileName(parsed.name, section);
            return true;
        }
        if (!inSection || parsed.kind != ProfileLine::Kind::Entry ||
            !sameProfileName(parsed.name, key)) {
            return true;
        }
        value = std::string(parsed.value.substr(0, kProfileValueMax));
        found = true;
        return false;
    });
    return found ? value : defaultText;
}

double leadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t digitsStart = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    std::size_t digits = i - digitsStart;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        digits += i - fractionStart;
    }
    if (digits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const std::size_t exponentStart = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j;
        if (j > exponentStart) i = j;
    }
    // from_chars: independent of the process locale, which the window toolkit sets.
    std::size_t first = start;
    const bool negative = text[first] == '-';
    if (text[first] == '+' || text[first] == '-') ++first;
    double value = 0.0;
    const auto result = std::from_chars(text.data() + first, text.data() + i, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

std::int16_t profileNumber(const std::string& text) {
    const double rounded = std::nearbyint(leadingNumber(text));  // halves to even
    constexpr double low = std::numeric_limits<std::int16_t>::min();
    constexpr double high = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::clamp(rounded, low, high));
}

}  // namespace kestrel
