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
    const auto order = [&](const Finding& f) { return m_perFile.find(f.file)->second.order; };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Finding& a, const Finding& b) {
        return order(a) != order(b) ? order(a) < order(b) : a.line < b.line;
    });
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const Finding& finding = sorted[i];
        std::string where = std::string(prefix) + finding.file + ":";
        if (finding.line > 0) where += std::to_string(finding.line) + ":";
        lines.push_back(where + " " + finding.message);
        const bool lastOfFile = i + 1 == sorted.size() || sorted[i + 1].file != finding.file;
        const std::size_t count = m_perFile.find(finding.file)->second.count;
        if (lastOfFile && count > kShownPerFile) {
            lines.push_back(std::string(prefix) + finding.file + ": " +
                            std::to_string(count - kShownPerFile) + " more problems not shown");
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
