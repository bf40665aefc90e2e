#include "check/station_check.h"

#include <system_error>

#include "check/config_check.h"
#include "check/neighbour_check.h"
#include "check/schedule_check.h"
#include "check/source_list_check.h"
#include "platform/file_io.h"

namespace kestrel {

Findings stationFindings(const std::filesystem::path& dir) {
    Findings findings;
    const ConfigFacts config = checkConfig(dir, dir.string(), findings);
    checkNeighbours(dir, findings);
    const auto sources = checkSourceList(dir, findings);
    checkSchedule(dir, config, sources, findings);
    return findings;
}

Findings checkFileText(const std::filesystem::path& dir, std::string_view name,
                       std::string_view text) {
    Findings findings;
    if (name == kSourceListFile) {
        checkSourceListText(text, findings);
    } else {
        std::optional<SourceTable> sources;
        std::string list;
        if (readWholeFile(dir / kSourceListFile, list)) sources = lookupDigitSources(list);
        checkScheduleText(text, sources, findings);
    }
    return findings;
}

int checkStation(const std::filesystem::path& dir, std::ostream& out, std::ostream& err) {
    namespace fs = std::filesystem;
    std::error_code error;
    // The station's working directory reads as this path where a key is absent.
    const fs::path absolute = fs::canonical(dir, error);
    if (!error && !fs::is_directory(absolute, error)) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (!error) fs::directory_iterator probe(absolute, error);
    if (error) {
        err << "kestrelfield: cannot read " << dir << ": " << error.message() << '\n';
        return kCheckCannotRead;
    }

    const Findings findings = stationFindings(absolute);

    const std::string prefix = dir.empty() || dir == "." ? "" : (dir / "").string();
    for (const std::string& line : findings.report(prefix))
        out << line << '\n';
    const std::size_t count = findings.count();
    out << (count == 0 ? "no" : std::to_string(count)) << (count == 1 ? " problem" : " problems")
        << " found in " << absolute.string() << '\n';
    return count == 0 ? kCheckClean : kCheckFoundProblems;
}

}  // namespace kestrel
