#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// Calls `onLine(std::string_view)` for each line of `in`; a line ends at
/// CR LF, LF or a lone CR. Stops early when `onLine` returns false. A last
/// line without an end is passed too.
template <typename OnLine>
void forEachLine(std::istream& in, OnLine&& onLine) {
    std::string line;
    char buffer[64 * 1024];
    bool pendingCr = false;
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize count = in.gcount();
        if (count <= 0) break;
        for (std::streamsize i = 0; i < count; ++i) {
            const char c = buffer[i];
            if (pendingCr) {
                pendingCr = false;
                if (c == '\n') continue;  // CR LF ends one line
            }
            if (c == '\r' || c == '\n') {
                pendingCr = c == '\r';
                if (!onLine(std::string_view(line))) return;
                line.clear();
            } else {
                line.push_back(c);
            }
        }
    }
    if (!line.empty()) onLine(std::string_view(line));
}

/// Calls `onLine(std::string_view)` for each line of `text`, split the same
/// way as forEachLine, without copying.
template <typename OnLine>
void forEachLineOf(std::string_view text, OnLine&& onLine) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        onLine(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) onLine(text.substr(start));
}

/// Splits `text` into lines the same way as forEachLine.
std::vector<std::string> splitLines(std::string_view text);

}  // namespace kestrel
