#include "support/fault_simulation.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kestrel::test {
namespace {

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

#ifndef KESTREL_SIM_DEFAULT_DAYS
#define KESTREL_SIM_DEFAULT_DAYS 30
#endif

// A month of station life per seed. KESTREL_SIM_SEED and KESTREL_SIM_DAYS
// replay one seed or run longer (scripts/soak).
TEST(FaultSimulation, StationHoldsThroughAMonthOfFaults) {
    // The station rewrites its files every few seconds of virtual time: keep
    // them in memory where the machine allows.
    if (!std::getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    const auto days = static_cast<int>(envNumber("KESTREL_SIM_DAYS", KESTREL_SIM_DEFAULT_DAYS));
    const std::uint64_t firstSeed = envNumber("KESTREL_SIM_SEED", 20261207);
    const std::uint64_t seeds = envNumber("KESTREL_SIM_SEEDS", 1);
    for (std::uint64_t seed = firstSeed; seed < firstSeed + seeds; ++seed) {
        const auto result = runFaultSimulation(seed, days);
        std::string report;
        for (const auto& v : result.violations)
            report += "\n  " + v;
        EXPECT_TRUE(result.violations.empty())
            << "seed " << seed << " failed; replay with KESTREL_SIM_SEED=" << seed
            << " KESTREL_SIM_DAYS=" << days << report;
        std::printf(
            "seed %llu, %d days: %d injected faults, %d source changes, %d RESTART lines, "
            "%d declared failures, %d recoveries, %d scheduled events at most %lld ms late\n",
            static_cast<unsigned long long>(seed), days, result.injectedEvents, result.switches,
            result.restartLines, result.declaredFailures, result.recoveries, result.eventsChecked,
            static_cast<long long>(result.maxEventLatenessMs));
        EXPECT_GT(result.injectedEvents, 0);
        EXPECT_GT(result.eventsChecked, 0);
    }
}

}  // namespace
}  // namespace kestrel::test
