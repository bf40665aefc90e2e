#pragma once

#include "station/station.h"
#include "support/fake_world.h"

namespace kestrel::test {

/// A bare Station on fakes, without the controller or its timers: for tests
/// that call one handler or procedure directly.
struct FakeStation : FakeWorld {
    Station station{platform()};

    StationState& state() { return station.state; }
    DisplayModel& display() { return station.display; }
};

}  // namespace kestrel::test
