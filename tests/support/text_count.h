#pragma once

#include <string>

namespace kestrel::test {

/// How often `part` occurs in `text`.
inline int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at)
        ++count;
    return count;
}

}  // namespace kestrel::test
