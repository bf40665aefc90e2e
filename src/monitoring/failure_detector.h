#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

/// The health-test address of a stream address: everything before its third
/// "/", then "/testonline/". "http://host:8000/live/a" gives
/// "http://host:8000/testonline/"; an address without a third "/" is kept
/// whole; an empty address gives "/testonline/".
std::string testAddressOf(const std::string& streamAddress);

/// Every 15 s when CheckSource is "1": tests the on-air source's server;
/// two failures in a row declare a failure (fallback to source 0), the first
/// success afterwards recovers the failed source. Waits for the fetch on
/// InetTestURL (up to that fetcher's time-out), then for a switch that is
/// running to end, before it acts on the answer.
Task<> tmrSourceCheck(Station& station);

}  // namespace kestrel
