#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "station/station.h"

namespace kestrel {

/// Replaces the station file `name` with `bytes` (see replaceFileDurably),
/// unless it holds exactly these bytes already. A failure leaves the old file, counts in the file's
/// write failures, shows on the status page until a write of the file succeeds, and is journaled as
/// write_failed once until then. Returns whether the file was written.
bool writeStationFile(Station& station, const std::string& name, std::string_view bytes);

/// Takes note of a write of the station file `name` that ended with `error`
/// (none: it was written), as writeStationFile does for its own.
void noteFileWrite(Station& station, const std::string& name, std::error_code error);

}  // namespace kestrel
