#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

/// The station's metrics in Prometheus's text exposition format 0.0.4.
std::string metricsText(const Station& station);

}  // namespace kestrel
