#pragma once

#include <gtest/gtest.h>

#include "station/station.h"
#include "support/fake_world.h"

namespace kestrel::test {

/// A bare Station on fakes, without the controller or its timers: for tests
/// that call one handler or procedure directly. Its event loop is immediate,
/// so every handler has ended when the call returns.
struct FakeStation : FakeWorld {
    FakeStation() { station.journal.setOutput(&journal); }

    Station station{platform()};

    /// Checks that a handler's run has ended (nothing here waits for real).
    template <typename T>
    void finish(const Task<T>& run) {
        EXPECT_TRUE(run.done()) << "the run still waits";
    }

    StationState& state() { return station.state; }
    DisplayModel& display() { return station.display; }
};

}  // namespace kestrel::test
