#pragma once

#include <string>

#include "platform/clock.h"
#include "station/station.h"

namespace kestrel {

/// Every minute when ManagementUpdate > 0: the countdown and, every
/// ManagementUpdate minutes, the schedule download and the status report.
/// A download sends the same request twice through managementFetcher, one after the
/// other, and waits for both. Only a 2xx answer with at least one byte
/// replaces "sourceevents.ini", and it does so atomically; otherwise the file
/// is left as it was. The status report then goes out on its own.
Task<> tmrManagementDownload(Station& station);

/// "HH:MM:SS YYYY-DD-MM", the time and the year-day-month date of the
/// download captions.
std::string downloadCaptionTime(const LocalDateTime& t);

}  // namespace kestrel
