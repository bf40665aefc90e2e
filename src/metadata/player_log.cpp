#include "metadata/player_log.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

struct Prefix {
    std::string_view text;
    std::optional<std::string> PlayerLogFields::*field;
};

constexpr Prefix kPrefixes[] = {
    {"Name   : ", &PlayerLogFields::name},
    {"Genre  : ", &PlayerLogFields::genre},
    {"Website: ", &PlayerLogFields::website},
    {"Public : ", &PlayerLogFields::publicFlag},
    {"Bitrate: ", &PlayerLogFields::bitrate},
    {"Selected audio codec: ", &PlayerLogFields::codec},
    {"ICY Info: StreamTitle='", &PlayerLogFields::title},
    {"Starting playback...", &PlayerLogFields::playbackStarted},
    {"AUDIO: ", &PlayerLogFields::audioFormat},
};

struct CountedLine {
    std::string_view text;
    std::uint32_t PlayerLogFields::*count;
};

// MPlayer's words for an underrun, for a sound device it cannot open, and for
// one that went away (unplugged) or stopped taking samples while it played.
constexpr CountedLine kCountedLines[] = {
    {"Cache empty", &PlayerLogFields::cacheEmptyLines},
    {"Could not open/initialize audio device", &PlayerLogFields::outputOpenFailures},
    {"[AO_ALSA] Cannot get pcm status", &PlayerLogFields::outputStuckLines},
    {"Audio device got stuck!", &PlayerLogFields::outputStuckLines},
};

constexpr std::size_t kLongestPrefix = 38;

bool mayBecome(std::string_view start, std::string_view prefix) {
    const std::size_t n = std::min(start.size(), prefix.size());
    return start.substr(0, n) == prefix.substr(0, n);
}

// True while `start` (the beginning of a line) can still turn out to match.
bool mayMatch(std::string_view start) {
    // Most lines of a log are status segments: reject them on their first byte.
    if (!start.empty() && std::string_view("NGWPBSICA[").find(start[0]) == std::string_view::npos) {
        return false;
    }
    return std::any_of(std::begin(kCountedLines), std::end(kCountedLines),
                       [start](const CountedLine& c) { return mayBecome(start, c.text); }) ||
           std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                       [start](const Prefix& p) { return mayBecome(start, p.text); });
}

std::size_t findByte(const char* data, std::size_t from, std::size_t size, char byte) {
    const void* found = std::memchr(data + from, byte, size - from);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : size;
}

}  // namespace

std::string_view streamTitleOf(std::string_view rest) {
    const std::size_t close = rest.find("';");
    if (close != std::string_view::npos) return rest.substr(0, close);
    if (rest.size() < 2) return rest;
    return rest.substr(0, rest.size() - 2);
}

int sampleRateOf(std::string_view audioFormat) {
    int rate = 0;
    for (const char c : audioFormat) {
        if (c < '0' || c > '9') break;
        rate = rate * 10 + (c - '0');
        if (rate > 1'000'000) return 0;
    }
    return audioFormat.substr(std::to_string(rate).size()).starts_with(" Hz") ? rate : 0;
}

bool parsePlayerLogLine(std::string_view line, PlayerLogFields& fields) {
    for (const CountedLine& counted : kCountedLines) {
        if (!line.starts_with(counted.text)) continue;
        ++(fields.*counted.count);
        return true;
    }
    for (const Prefix& prefix : kPrefixes) {
        if (!line.starts_with(prefix.text)) continue;
        std::string_view value = line.substr(prefix.text.size());
        if (prefix.field == &PlayerLogFields::title) value = streamTitleOf(value);
        fields.*prefix.field = std::string(value);
        return true;
    }
    return false;
}

void PlayerLogParser::feed(std::string_view bytes) {
    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    if (size > 0 && m_afterCr) {
        m_afterCr = false;
        if (data[0] == '\n') i = 1;
    }
    // Next CR and next LF, each searched again only once passed: fast on logs
    // made of CR-separated status segments as on LF-only ones.
    std::size_t nextCr = 0;
    std::size_t nextLf = 0;
    bool crFound = false;
    bool lfFound = false;
    while (i < size) {
        if (!crFound || nextCr < i) {
            nextCr = findByte(data, i, size, '\r');
            crFound = true;
        }
        if (!lfFound || nextLf < i) {
            nextLf = findByte(data, i, size, '\n');
            lfFound = true;
        }
        const std::size_t stop = std::min(nextCr, nextLf);
        appendToLine(data + i, data + stop);
        if (stop == size) break;
        endLine();
        i = stop + 1;
        if (data[stop] == '\r') {
            if (i == size) {
                m_afterCr = true;
            } else if (data[i] == '\n') {
                ++i;
            }
        }
    }
}

void PlayerLogParser::appendToLine(const char* begin, const char* end) {
    if (m_lineCannotMatch || begin == end) return;
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (m_line.size() < kLongestPrefix) {
        const std::size_t probe = std::min(length, kLongestPrefix - m_line.size());
        char start[kLongestPrefix];
        std::memcpy(start, m_line.data(), m_line.size());
        std::memcpy(start + m_line.size(), begin, probe);
        if (!mayMatch(std::string_view(start, m_line.size() + probe))) {
            m_lineCannotMatch = true;
            m_line.clear();
            return;
        }
    }
    m_line.append(begin, std::min(length, kMaxPlayerLogLine - m_line.size()));
}

void PlayerLogParser::endLine() {
    if (!m_lineCannotMatch && !m_line.empty()) parsePlayerLogLine(m_line, m_fields);
    m_line.clear();
    m_lineCannotMatch = false;
}

PlayerLogFields PlayerLogParser::fields() const {
    PlayerLogFields fields = m_fields;
    if (!m_lineCannotMatch && !m_line.empty()) parsePlayerLogLine(m_line, fields);
    return fields;
}

}  // namespace kestrel
