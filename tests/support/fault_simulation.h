#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

/// A seeded month (or any span) of station life on virtual time with injected
/// faults: player deaths, dying and recovering stream servers, slow, failing,
/// black-holed and garbage answers of every service, operator, API and remote
/// switches, mode changes, schedule edits and garbage files. Invariants are checked after
/// every virtual second; the first violations are returned with the time.
struct FaultSimulationResult {
    std::vector<std::string> violations;
    int injectedEvents = 0;
    int switches = 0;
    int restartLines = 0;
    int declaredFailures = 0;
    int recoveries = 0;
    int eventsChecked = 0;                ///< scheduled events whose lateness was measured
    std::int64_t maxEventLatenessMs = 0;  ///< the latest of them, after its due second
};

FaultSimulationResult runFaultSimulation(std::uint64_t seed, int days);

}  // namespace kestrel::test
