#include "check/source_list_check.h"

#include <array>

#include "check/config_keys.h"
#include "check/station_file.h"
#include "platform/text_lines.h"

namespace kestrel {
namespace {

constexpr std::string_view kFile = kSourceListFile;

bool blankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::optional<SourceTable> checkSourceList(const std::filesystem::path& dir, Findings& findings) {
    const auto bytes =
        readFileToCheck(dir, {kFile, "no source has an address, so nothing plays"}, findings);
    if (!bytes) return std::nullopt;
    return checkSourceListText(*bytes, findings);
}

SourceTable checkSourceListText(std::string_view text, Findings& findings) {
    const SourceTable sources = lookupDigitSources(text);

    // Lines of each source's name and address; the last one is what a switch reads.
    std::array<std::size_t, 10> nameLine{};
    std::array<std::size_t, 10> addressLine{};
    std::size_t number = 0;
    for (const std::string& line : splitLines(text)) {
        ++number;
        if (blankLine(line) || line.front() == ';') continue;
        const std::string_view kind = std::string_view(line).substr(1, 2);
        if (kind != "n:" && kind != "u:") {
            findings.add(kFile, number, "not a source line (a digit, then n: or u:): ignored");
            continue;
        }
        if (line[0] < '0' || line[0] > '9') {
            findings.add(kFile, number,
                         "does not begin with a digit: ignored by switches, but the status "
                         "report lists it as source 0");
            continue;
        }
        const auto source = static_cast<std::size_t>(line[0] - '0');
        auto& seen = kind == "n:" ? nameLine[source] : addressLine[source];
        if (seen > 0) {
            findings.add(kFile, number,
                         "source " + std::to_string(source) + "'s " +
                             (kind == "n:" ? "name" : "address") + " again: replaces line " +
                             std::to_string(seen));
        }
        seen = number;
    }

    bool anyAddress = false;
    for (std::size_t source = 0; source < 10; ++source) {
        const std::string digit = std::to_string(source);
        const std::string& address = sources.addresses[source];
        const std::string restarts =
            ": a switch to source " + digit + " restarts the source on air";
        if (addressLine[source] == 0) {
            if (nameLine[source] > 0) {
                findings.add(kFile, nameLine[source],
                             "source " + digit + " has a name but no address" + restarts);
            }
            continue;
        }
        anyAddress = true;
        if (address.size() < kShortestAddress) {
            findings.add(kFile, addressLine[source],
                         "address of source " + digit + " is shorter than " +
                             std::to_string(kShortestAddress) + " characters" + restarts);
        } else if (!isWebAddress(address)) {
            findings.add(kFile, addressLine[source],
                         "address of source " + digit + " is not an http:// or https:// address");
        }
    }
    if (!anyAddress) findings.add(kFile, 0, "no source has an address, so nothing plays");
    return sources;
}

}  // namespace kestrel
