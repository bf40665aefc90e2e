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
/// two failures in a row declare a failure (SilenceFlag: the reconciler puts
/// source 0 on air), the first success afterwards ends it (RecoveryPending:
/// the failed source comes back, as a recovery). A success after a failed
/// check that declared nothing only resets the count. The detector never
/// stops a player: both ways are make-before-break switches. Waits for the
/// fetch on sourceCheckFetcher (up to that fetcher's time-out); an answer is
/// dropped when the source on air (number or address) has changed since
/// the check began.
Task<> tmrSourceCheck(Station& station);

}  // namespace kestrel
