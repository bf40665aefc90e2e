#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/findings.h"
#include "station/station.h"

namespace kestrel {

/// Editing the schedule and the source list from a control room page: the
/// station's own checks on the new text before it is saved, a save that
/// keeps the previous file as FILE.bak, and refusal when the file has
/// changed since the editor loaded it.

/// Whether a page may edit the station file `name`: sourceevents.ini and
/// sourcelist.ini.
bool isEditableFile(std::string_view name);

/// A file's content as an editor loads it, with the version a save names.
struct EditedFile {
    std::string text;     ///< empty when the file does not exist
    std::string version;  ///< fileVersion of what was read
};
EditedFile loadForEditing(const Station& station, const std::string& name);

/// A short text that changes whenever the bytes do; "none" for a missing file.
std::string fileVersion(const std::optional<std::string>& bytes);

/// The text as the station writes text files: every line ended by CR LF.
std::string withStationLineEnds(std::string_view text);

struct SaveOutcome {
    enum class Result {
        Saved,     ///< written (or unchanged); the previous content is in FILE.bak
        Refused,   ///< the checks found something: nothing written
        Conflict,  ///< the file changed since `loadedVersion`: nothing written
        Failed,    ///< the disk refused the write: the old file stays
    };
    Result result = Result::Refused;
    Findings findings;
    std::string error;  ///< why the write failed
};

/// Saves `text` (with the station's line ends) as `name` when its checks find
/// nothing and the file on disk is still the version the editor loaded; the
/// old content goes to FILE.bak first, both written durably. Journals the
/// save with `client`; a failed write counts as the station's other writes do.
SaveOutcome saveEdit(Station& station, const std::string& name, std::string_view text,
                     std::string_view loadedVersion, std::string_view client);

}  // namespace kestrel
