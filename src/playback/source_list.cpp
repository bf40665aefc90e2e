#include "playback/source_list.h"

#include <fstream>

#include "platform/text_lines.h"

namespace kestrel {

SourceEntry lookupSource(const std::filesystem::path& file, const std::string& key) {
    SourceEntry entry;
    // Only a one-character key can fill the three characters of a line's head.
    if (key.size() != 1) return entry;
    std::ifstream in(file, std::ios::binary);
    if (!in) return entry;
    const std::string namePrefix = key + "n:";
    const std::string addressPrefix = key + "u:";
    forEachLine(in, [&](std::string_view line) {
        const auto head = line.substr(0, 3);
        if (head == namePrefix) entry.name = std::string(line.substr(3));
        if (head == addressPrefix) entry.address = std::string(line.substr(3));
        return true;
    });
    return entry;
}

SourceTable scanSources(const std::filesystem::path& file) {
    SourceTable table;
    std::ifstream in(file, std::ios::binary);
    if (!in) return table;
    forEachLine(in, [&](std::string_view line) {
        if (line.size() < 3 || line.front() == ';') return true;
        const char first = line[0];
        const std::size_t index = (first >= '0' && first <= '9') ? first - '0' : 0;
        const auto kind = line.substr(1, 2);
        if (kind == "n:") table.names[index] = std::string(line.substr(3));
        if (kind == "u:") table.addresses[index] = std::string(line.substr(3));
        return true;
    });
    return table;
}

}  // namespace kestrel
