#pragma once

#include <gtest/gtest.h>

#include "playback/reconciler.h"
#include "station/station.h"
#include "station/timer_names.h"
#include "support/fake_world.h"

namespace kestrel::test {

/// A bare Station on fakes with its reconciler, without the controller or
/// its timers: for tests that call one handler or procedure directly. Its
/// event loop is immediate, so every handler, and every switch it asks for,
/// has ended when the call returns.
struct FakeStation : FakeWorld {
    FakeStation() {
        station.journal.setOutput(&journal);
        // AUTOMATIC mode, as the station starts: its timer is never run here.
        station.timers.add(timer::tmrCheckAndDoEvents, 1000, [] {});
        station.timers.start(timer::tmrCheckAndDoEvents);
    }

    Station station{platform()};
    Reconciler reconciler{station};

    /// Checks that a handler's run has ended (nothing here waits for real).
    template <typename T>
    void finish(const Task<T>& run) {
        EXPECT_TRUE(run.done()) << "the run still waits";
    }

    StationState& state() { return station.state; }
    DisplayModel& display() { return station.display; }
};

}  // namespace kestrel::test
