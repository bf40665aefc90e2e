#include "check/findings.h"

#include <algorithm>

namespace kestrel {

void Findings::add(std::string_view file, std::size_t line, std::string message) {
    ++m_count;
    auto [entry, added] = m_perFile.try_emplace(std::string(file), FileCount{m_perFile.size()});
    if (++entry->second.count <= kShownPerFile) {
        m_shown.push_back({std::string(file), line, std::move(message)});
    }
}

std::vector<std::string> Findings::report(std::string_view prefix) const {
    std::vector<Finding> sorted = m_shown;
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Finding& a, const Finding& b) {
        const auto orderA = m_perFile.find(a.file)->second.order;
        const auto orderB = m_perFile.find(b.file)->second.order;
        return orderA != orderB ? orderA < orderB : a.line < b.line;
    });
    std::vector<std::string> lines;
    for (const Finding& finding : sorted) {
        std::string where = std::string(prefix) + finding.file + ":";
        if (finding.line > 0) where += std::to_string(finding.line) + ":";
        lines.push_back(where + " " + finding.message);
    }
    for (const auto& [file, perFile] : m_perFile) {
        if (perFile.count > kShownPerFile) {
            lines.push_back(std::string(prefix) + file + ": " +
                            std::to_string(perFile.count - kShownPerFile) +
                            " more problems not shown");
        }
    }
    return lines;
}

std::string printable(std::string_view text) {
    constexpr std::size_t kLongest = 40;
    std::string out;
    for (char c : text.substr(0, kLongest)) {
        out += (c >= ' ' && c <= '~') ? c : '?';
    }
    if (text.size() > kLongest) out += "...";
    return out;
}

std::string inQuotes(std::string_view text) {
    return "\"" + printable(text) + "\"";
}

}  // namespace kestrel
