#include "playback/source_list.h"

#include <fstream>

#include "platform/file_io.h"
#include "platform/text_lines.h"

namespace kestrel {

SourceEntry lookupSource(const std::filesystem::path& file, const std::string& key) {
    std::string bytes;
    if (key.size() != 1 || !readWholeFile(file, bytes)) return {};
    return lookupSourceIn(bytes, key);
}

SourceEntry lookupSourceIn(std::string_view sourceListBytes, const std::string& key) {
    SourceEntry entry;
    // Only a one-character key can fill the three characters of a line's head.
    if (key.size() != 1) return entry;
    const std::string namePrefix = key + "n:";
    const std::string addressPrefix = key + "u:";
    forEachLineOf(sourceListBytes, [&](std::string_view line) {
        const auto head = line.substr(0, 3);
        if (head == namePrefix) entry.name = std::string(line.substr(3));
        if (head == addressPrefix) entry.address = std::string(line.substr(3));
    });
    return entry;
}

SourceTable lookupDigitSources(std::string_view sourceListBytes) {
    SourceTable table;
    for (const std::string& line : splitLines(sourceListBytes)) {
        if (line.size() < 3 || line[0] < '0' || line[0] > '9' || line[2] != ':') continue;
        const auto index = static_cast<std::size_t>(line[0] - '0');
        if (line[1] == 'n') table.names[index] = line.substr(3);
        if (line[1] == 'u') table.addresses[index] = line.substr(3);
    }
    return table;
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
