#include "check/schedule_check.h"

#include <map>
#include <set>
#include <utility>

#include "check/station_file.h"
#include "platform/text_lines.h"
#include "scheduler/event_calculation.h"
#include "station/time_format.h"

namespace kestrel {
namespace {

constexpr std::string_view kFile = kScheduleFile;

bool sixDigits(std::string_view text) {
    return text.size() == 6 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

struct Timed {
    std::size_t line;
    int time;
};

// Why the filter skips a line that is not blank and not a comment.
std::string skipReason(std::string_view line) {
    if (line.size() == kEventLineLength) return "second character is not a blank: ignored";
    std::string reason = std::to_string(line.size()) + " characters, not " +
                         std::to_string(kEventLineLength) + ": ignored";
    if (line.back() == ' ' || line.back() == '\t') reason += " (the blank at its end counts)";
    return reason;
}

}  // namespace

void checkSchedule(const std::filesystem::path& dir, const ConfigFacts& config,
                   const std::optional<SourceTable>& sources, Findings& findings) {
    const auto bytes = readFileToCheck(
        dir, {kFile, "nothing switches on schedule", config.managementOn}, findings);
    if (bytes) checkScheduleText(*bytes, sources, findings);
}

void checkScheduleText(std::string_view text, const std::optional<SourceTable>& sources,
                       Findings& findings) {
    // The events of each day and second: only the first in the file fires.
    std::map<std::pair<int, int>, std::vector<Timed>> seconds;
    std::set<char> sourcesReported;  // at the first event of each source
    std::size_t number = 0;
    for (const std::string& line : splitLines(text)) {
        ++number;
        if (line.find_first_not_of(" \t") == std::string::npos || line.front() == ';') continue;
        EventLine event;
        if (!parseEventLine(line, event)) {
            findings.add(kFile, number, skipReason(line));
            continue;
        }
        bool fires = true;
        if (event.weekday < 1 || event.weekday > 7) {
            findings.add(kFile, number,
                         "weekday " + inQuotes(line.substr(0, 1)) +
                             " is not 1 (Sunday) to 7 (Saturday): never fires");
            fires = false;
        }
        const std::string_view time = std::string_view(line).substr(2, 6);
        if (!isTimeOfDay(event.time)) {
            findings.add(kFile, number,
                         "time " + inQuotes(time) + " is not a time of day: never fires");
            fires = false;
        } else if (!sixDigits(time)) {
            findings.add(kFile, number,
                         "time " + inQuotes(time) + " is not six digits HHMMSS: fires at " +
                             zeroPadded(event.time, 6));
        }
        if (event.source < '0' || event.source > '9') {
            findings.add(kFile, number,
                         "source " + inQuotes(std::string(1, event.source)) +
                             " is not a digit: the event switches to source 0");
        } else if (sources && sourcesReported.insert(event.source).second &&
                   sources->addresses[event.source - '0'].size() < kShortestAddress) {
            findings.add(kFile, number,
                         "source " + std::string(1, event.source) + " has no usable address in " +
                             kSourceListFile + ": its events restart the source on air");
        }
        if (fires) seconds[{event.weekday, event.time}].push_back({number, event.time});
    }

    for (const auto& [second, events] : seconds) {
        const std::string first = std::to_string(events.front().line);
        for (std::size_t i = 1; i < events.size(); ++i)
            findings.add(kFile, events[i].line, "same day and time as line " + first + ": ignored");
    }
}

}  // namespace kestrel
