#include "platform/text_lines.h"

namespace kestrel {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    forEachLineOf(text, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

}  // namespace kestrel
