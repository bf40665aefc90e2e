#include "station/history.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "platform/file_io.h"
#include "platform/text_lines.h"
#include "station/journal.h"

namespace kestrel {
namespace {

constexpr std::array<std::string_view, 14> kKeptEvents = {"switch",
                                                          "switch_failed",
                                                          "player_outage",
                                                          "stream_stall",
                                                          "failure_declared",
                                                          "failure_recovered",
                                                          "silence",
                                                          "silence_hold_ended",
                                                          "api_switch_request",
                                                          "web_order",
                                                          "management_order_ignored",
                                                          "schedule_downloaded",
                                                          "file_saved",
                                                          "mode"};

// A logfmt value from `text` at `pos`: bare up to the next blank, or quoted
// with the journal's escapes. nullopt when a quote is never closed.
std::optional<std::string> readValue(std::string_view text, std::size_t& pos) {
    std::string value;
    if (pos >= text.size() || text[pos] != '"') {
        const auto end = std::min(text.find(' ', pos), text.size());
        value = std::string(text.substr(pos, end - pos));
        pos = end;
        return value;
    }
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return value;
        }
        if (c != '\\' || pos + 1 >= text.size()) {
            value += c;
            continue;
        }
        const char escaped = text[++pos];
        if (escaped == 'n') {
            value += '\n';
        } else if (escaped == 'r') {
            value += '\r';
        } else if (escaped == 't') {
            value += '\t';
        } else if (escaped == 'u' && pos + 4 < text.size()) {
            value += static_cast<char>(
                std::strtol(std::string(text.substr(pos + 1, 4)).c_str(), nullptr, 16));
            pos += 4;
        } else {
            value += escaped;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string_view HistoryEntry::field(std::string_view key) const {
    for (const auto& [name, value] : fields) {
        if (name == key) return value;
    }
    return {};
}

bool History::keeps(std::string_view event) {
    return std::find(kKeptEvents.begin(), kKeptEvents.end(), event) != kKeptEvents.end();
}

std::string History::line(const HistoryEntry& entry) {
    char time[32];
    std::snprintf(time, sizeof time, "%.0f", entry.at);
    std::string text = time;
    text += " event=";
    text += logfmtValue(entry.event);
    for (const auto& [key, value] : entry.fields) {
        text += ' ';
        text += key;
        text += '=';
        text += logfmtValue(value);
    }
    return text;
}

std::optional<HistoryEntry> History::parse(std::string_view text) {
    HistoryEntry entry;
    std::size_t pos = text.find(' ');
    if (pos == 0 || pos == std::string_view::npos) return std::nullopt;
    const std::string time(text.substr(0, pos));
    char* end = nullptr;
    entry.at = std::strtod(time.c_str(), &end);
    if (*end != '\0' || !std::isfinite(entry.at)) return std::nullopt;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        const auto equals = text.find('=', pos);
        if (equals == std::string_view::npos) return std::nullopt;
        std::string key(text.substr(pos, equals - pos));
        pos = equals + 1;
        auto value = readValue(text, pos);
        if (!value || key.empty() || key.find(' ') != std::string::npos) return std::nullopt;
        if (key == "event") {
            entry.event = std::move(*value);
        } else {
            entry.fields.emplace_back(std::move(key), std::move(*value));
        }
    }
    if (entry.event.empty()) return std::nullopt;
    return entry;
}

History::Appended History::open(std::filesystem::path file, double now) {
    m_file = std::move(file);
    std::vector<HistoryEntry> loaded;
    for (const auto& part : {std::filesystem::path(m_file.string() + ".1"), m_file}) {
        std::string bytes;
        if (!readWholeFile(part, bytes)) continue;
        for (const std::string& text : splitLines(bytes)) {
            if (auto entry = parse(text)) loaded.push_back(std::move(*entry));
        }
    }
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.at < b.at; });
    for (auto& entry : loaded) {
        if (entry.at <= now) keep(std::move(entry));
    }
    dropOlderThan(now - kKeptSeconds);
    std::error_code error;
    m_fileBytes = std::filesystem::file_size(m_file, error);
    if (error) m_fileBytes = 0;
    return add(now, "start", {});
}

History::Appended History::add(double at, std::string event,
                               std::vector<std::pair<std::string, std::string>> fields) {
    HistoryEntry entry{at, std::move(event), std::move(fields)};
    const Appended error = append(entry);
    keep(std::move(entry));
    dropOlderThan(at - kKeptSeconds);
    return error;
}

void History::keep(HistoryEntry entry) {
    // A clock set back puts an entry before later ones; the order stays by time.
    auto at = m_entries.end();
    while (at != m_entries.begin() && std::prev(at)->at > entry.at)
        --at;
    m_entries.insert(at, std::move(entry));
}

void History::dropOlderThan(double at) {
    while (!m_entries.empty() && (m_entries.front().at < at || m_entries.size() > kMostEntries)) {
        const auto& dropped = m_entries.front();
        if (dropped.event == "switch" || dropped.event == "start") m_carried = dropped;
        m_entries.pop_front();
    }
}

History::Appended History::append(const HistoryEntry& entry) {
    if (m_file.empty()) return std::nullopt;
    if (m_fileBytes >= kFileBytes) {
        std::error_code error;
        std::filesystem::rename(m_file, m_file.string() + ".1", error);
        if (error) return error;
        m_fileBytes = 0;
    }
    const std::string text = line(entry) + "\r\n";
    errno = 0;
    if (!appendToFile(m_file, text))
        return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    m_fileBytes += text.size();
    return std::error_code();
}

History::Appended History::sampleLevel(double at, int source, std::optional<double> rmsDbfs) {
    const auto minute = static_cast<std::int64_t>(std::floor(at / 60));
    Appended error;
    if (minute != m_minute) {
        if (m_levelCount > 0 && m_minute >= 0) {
            char mean[16];
            std::snprintf(mean, sizeof mean, "%.1f", m_levelSum / m_levelCount);
            error = add(static_cast<double>(m_minute) * 60, "level",
                        {{"source", std::to_string(m_levelSource)}, {"rms_dbfs", mean}});
        }
        m_minute = minute;
        m_levelSum = 0;
        m_levelCount = 0;
    }
    if (rmsDbfs && source >= 0) {
        m_levelSum += std::max(*rmsDbfs, -120.0);
        ++m_levelCount;
        m_levelSource = source;
    }
    return error;
}

}  // namespace kestrel
