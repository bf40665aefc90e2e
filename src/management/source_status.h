#pragma once

#include "station/station.h"

namespace kestrel {

/// Reports all ten sources and the active one to the management server: one
/// request per item 0..9 through statusReportFetcher, one after the other. Does
/// nothing when ManagementUpdate <= 0.
Task<> SendSourceStatus(Station& station);

/// Sends the report on its own, so that nothing waits for it; a report still
/// being sent is abandoned for the newer one.
void startSourceStatusReport(Station& station);

}  // namespace kestrel
