#pragma once

#include "controller/station.h"

namespace kestrel {

/// Every minute when ManagementUpdate > 0: the countdown and, every
/// ManagementUpdate minutes, the schedule download and the status report.
void tmrManagementDownload(Station& station);

}  // namespace kestrel
