#include "controller/file_editor.h"

#include <cstdint>
#include <cstdio>

#include "check/station_check.h"
#include "platform/file_io.h"
#include "platform/text_lines.h"
#include "playback/source_list.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"
#include "station/station_files.h"

namespace kestrel {
namespace {

std::optional<std::string> currentBytes(const Station& station, const std::string& name) {
    std::string bytes;
    if (!readWholeFile(station.file(name), bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

bool isEditableFile(std::string_view name) {
    return name == kScheduleFile || name == kSourceListFile;
}

std::string fileVersion(const std::optional<std::string>& bytes) {
    if (!bytes) return "none";
    // FNV-1a: a change by another writer shows; nothing here needs more.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : *bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%zu-%016llx", bytes->size(),
                  static_cast<unsigned long long>(hash));
    return text;
}

EditedFile loadForEditing(const Station& station, const std::string& name) {
    const auto bytes = currentBytes(station, name);
    return {bytes.value_or(""), fileVersion(bytes)};
}

std::string withStationLineEnds(std::string_view text) {
    std::string out;
    for (const std::string& line : splitLines(text)) {
        out += line;
        out += "\r\n";
    }
    return out;
}

SaveOutcome saveEdit(Station& station, const std::string& name, std::string_view text,
                     std::string_view loadedVersion, std::string_view client) {
    SaveOutcome outcome;
    const std::string bytes = withStationLineEnds(text);
    outcome.findings = checkFileText(station.platform.workdir, name, bytes);
    if (outcome.findings.count() > 0) return outcome;

    const auto previous = currentBytes(station, name);
    if (fileVersion(previous) != loadedVersion) {
        outcome.result = SaveOutcome::Result::Conflict;
        return outcome;
    }
    if (previous != bytes) {
        std::error_code error;
        if (previous) {
            const std::string backup = name + ".bak";
            error = replaceFileDurably(station.file(backup), *previous);
            if (error || station.counters.fileWrites.contains(backup))
                noteFileWrite(station, backup, error);
        }
        if (!error) {
            error = replaceFileDurably(station.file(name), bytes);
            noteFileWrite(station, name, error);
        }
        if (error) {
            outcome.result = SaveOutcome::Result::Failed;
            outcome.error = error.message();
            return outcome;
        }
    }
    recordFileSaved(station, name, client, bytes.size());
    outcome.result = SaveOutcome::Result::Saved;
    return outcome;
}

}  // namespace kestrel
