#include "support/air_property.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

namespace kestrel::test {
namespace {

using A = AirAction;

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

std::string traceOf(const AirRun& run) {
    std::string text;
    for (const auto& action : run.actions)
        text += "\n    " + action.text();
    return text;
}

#ifndef KESTREL_AIR_DEFAULT_SEEDS
#define KESTREL_AIR_DEFAULT_SEEDS 200
#endif
#ifndef KESTREL_AIR_SHARDS
#define KESTREL_AIR_SHARDS 10
#endif

// Seeded days of a station on air: players that die, stall, never play or
// play late, servers that fail and return, silence, orders from everyone at
// any moment, events a second apart, MANUAL, a full disk. The seeds are
// shared out among the shards, which ctest runs side by side.
// KESTREL_AIR_SEED, KESTREL_AIR_SEEDS and KESTREL_AIR_DAYS replay one seed
// or run more.
class SeededDays : public testing::TestWithParam<int> {};

TEST_P(SeededDays, InvariantsHold) {
    if (!std::getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    const std::uint64_t base = envNumber("KESTREL_AIR_SEED", 29);
    const std::uint64_t seeds = envNumber("KESTREL_AIR_SEEDS", KESTREL_AIR_DEFAULT_SEEDS);
    const std::uint64_t perShard = (seeds + KESTREL_AIR_SHARDS - 1) / KESTREL_AIR_SHARDS;
    const std::uint64_t first = base + static_cast<std::uint64_t>(GetParam()) * perShard;
    const std::uint64_t last = std::min(base + seeds, first + perShard);
    if (first >= last) GTEST_SKIP() << "no seed left for this shard";
    const double days = static_cast<double>(envNumber("KESTREL_AIR_DAYS", 1));
    const auto started = std::chrono::steady_clock::now();
    int orders = 0, events = 0, switches = 0;
    std::uint64_t ran = 0;
    for (std::uint64_t seed = first; seed < last; ++seed) {
        const AirRun run = randomAirRun(seed, days);
        const AirOutcome outcome = runAir(run);
        ++ran;
        orders += outcome.orders;
        events += outcome.events;
        switches += outcome.switches;
        if (outcome.violation.empty()) continue;
        const AirRun shortest = shrinkAirRun(
            run, outcome, static_cast<double>(envNumber("KESTREL_AIR_SHRINK_SECONDS", 60)));
        const AirOutcome shortestOutcome = runAir(shortest);
        ADD_FAILURE() << "seed " << seed << " (replay: KESTREL_AIR_SEED=" << seed
                      << " KESTREL_AIR_SEEDS=1 KESTREL_AIR_DAYS=" << days << "), SwitchTimeout "
                      << run.switchTimeout << ": " << outcome.violation
                      << "\n  the fewest actions that still fail:" << traceOf(shortest) << "\n  "
                      << shortestOutcome.violation
                      << "\n  the journal's last lines:" << shortestOutcome.journalTail;
        break;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "%llu seeds x %.0f days: %d switches, %d orders, %d events; %.2f simulated "
        "days per wall second\n",
        static_cast<unsigned long long>(ran), days, switches, orders, events,
        static_cast<double>(ran) * days / wall);
}

INSTANTIATE_TEST_SUITE_P(Shard, SeededDays, testing::Range(0, KESTREL_AIR_SHARDS));

// The source the scenarios start with: 9, the schedule's at start-up.
struct Scenario {
    const char* what;
    AirRun run;
    int onAir;  ///< at the end, with its player running
    std::uint64_t switchFailures;
    std::uint64_t fallbacks;
};

// What went wrong when paths met, each a case of the same simulation.
TEST(AirProperty, PathsThatMeetCannotUndoEachOther) {
    // clang-format off
    const Scenario scenarios[] = {
        {"a dead player's leftover level file is no playback: 3 never plays",
         {{{1000, A::SourceBehaves, 3, 3}, {5000, A::ApiOrders, 2}, {30000, A::ApiOrders, 3}}, 50},
         2, 1, 0},
        {"a silence declared while a scheduled switch runs holds the old source only",
         {{{1000, A::SourceBehaves, 5, 1}, {3000, A::SourceSounds, 9, 0},
           {4000, A::ScheduleEvents, 12, 5}}, 90}, 5, 0, 0},
        {"the stand-in for a dead source gives way to an operator's playing source",
         {{{0, A::SourceBehaves, 9, 2}, {2500, A::OperatorOrders, 5}}, 90}, 5, 1, 1},
        {"a failed silence fall-back is not retried once the sound is back",
         {{{0, A::SourceBehaves, 0, 2}, {3000, A::SourceSounds, 9, 0},
           {30000, A::SourceSounds, 9, 1}, {35000, A::SourceBehaves, 0, 0}}, 150}, 9, 1, 0},
        {"an empty log and no decoding at the time-out, with a source on air, is a failed switch",
         {{{1000, A::DiskFills, 1}, {1000, A::SourceBehaves, 3, 3}, {5000, A::ApiOrders, 3}}, 35},
         9, 1, 0},
        {"the second event of a minute fires on its second behind a hung switch",
         {{{1000, A::SourceBehaves, 3, 3}, {5000, A::ScheduleEvents, 13, 5}}, 60}, 5, 0, 0},
        {"the old player ends during a long wait: the live new one is kept at the time-out",
         {{{1000, A::SourceBehaves, 3, 4}, {5000, A::ApiOrders, 3}, {8000, A::PlayerDies, 1}},
          60}, 3, 0, 0},
        {"no sound device at start-up, then one: the scheduled source plays, nobody blamed",
         {{{0, A::OutputFails, 1}, {21000, A::OutputFails, 0}}, 40}, 9, 0, 0},
        {"the device goes while 9 plays: its player stops, 9 returns with the device",
         {{{10000, A::OutputFails, 1}, {31000, A::OutputFails, 0}}, 50}, 9, 0, 0},
        {"an order while the device is missing is carried out once it is back",
         {{{5000, A::OutputFails, 1}, {8000, A::ApiOrders, 4}, {30000, A::OutputFails, 0}}, 50},
         4, 0, 0},
        {"an event during a hung operator's switch fires; a later order replaces it",
         {{{1000, A::SourceBehaves, 3, 3}, {2000, A::ScheduleEvents, 15, 5},
           {12000, A::OperatorOrders, 3}, {18500, A::OperatorOrders, 7}}, 60}, 7, 0, 0},
        {"a socket seen before it connected is looked for again: an underrun is no stall",
         {{{1000, A::SourceBehaves, 4, 6}, {5000, A::ApiOrders, 4}}, 60}, 4, 0, 0},
    };
    // clang-format on
    for (const auto& s : scenarios) {
        const AirOutcome outcome = runAir(s.run);
        EXPECT_EQ(outcome.violation, "") << s.what;
        EXPECT_EQ(outcome.onAir, s.onAir) << s.what;
        EXPECT_TRUE(outcome.onAirPlayerRuns) << s.what;
        EXPECT_EQ(outcome.switchFailures, s.switchFailures) << s.what;
        EXPECT_EQ(outcome.fallbacks, s.fallbacks) << s.what;
        // The stream on air was never taken for stalled, and its rate shows.
        EXPECT_EQ(outcome.stalls, 0u) << s.what;
        EXPECT_EQ(outcome.streamReceived, "128 kbit/s") << s.what;
    }
    // Without a device the station says so (every 15 s), starts a player
    // every 5 s, and stops a player whose log fills with the device's loss.
    for (const auto& [missingFrom, seconds, lines] : {std::tuple{0, 62, 5}, {10000, 40, 2}}) {
        const AirOutcome missing =
            runAir({{{missingFrom, A::OutputFails, 1}}, static_cast<double>(seconds)});
        EXPECT_EQ(missing.violation, "");
        EXPECT_TRUE(missing.outputFailed);
        EXPECT_EQ(missing.outputFailedLines, lines) << missingFrom;
        EXPECT_LT(missing.largestPlayerLog, 4096u) << missingFrom;
        int lastHalfMinute = 0;
        for (const auto& start : missing.starts)
            lastHalfMinute += start.first >= (seconds - 30) * 1000;
        EXPECT_GE(lastHalfMinute, 5);
        EXPECT_LE(lastHalfMinute, 7);
    }
    // The event to 5 started its player on its second, once.
    for (const auto& [index, dueMs] : {std::pair{5, 19000}, {10, 17000}}) {
        int starts = 0;
        for (const auto& [atMs, source] : runAir(scenarios[index].run).starts)
            starts += source == 5 && atMs >= dueMs && atMs < dueMs + 1000;
        EXPECT_EQ(starts, 1) << scenarios[index].what;
    }
}

}  // namespace
}  // namespace kestrel::test
