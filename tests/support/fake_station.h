#pragma once

#include <string>

#include "controller/station.h"
#include "support/fake_clock.h"
#include "support/fake_fetcher.h"
#include "support/fake_players.h"
#include "support/temp_dir.h"

namespace kestrel::test {

/// A bare Station on fakes, without the controller or its timers: for tests
/// that call one handler or procedure directly. Time starts Monday
/// 2026-12-07 08:00:00.
struct FakeStation {
    TempDir dir;
    FakeClock clock;
    FakePlayers players{dir.path()};
    FakeFetcher InetAIR{&clock};
    FakeFetcher InetWeather{&clock};
    FakeFetcher InetTestURL{&clock};
    FakeFetcher Inet1{&clock};
    Station station{
        Platform{clock, players, players, InetAIR, InetWeather, InetTestURL, Inet1, dir.path()}};

    FakeStation() { players.clock = &clock; }

    void write(const std::string& name, const std::string& bytes) { dir.write(name, bytes); }
    StationState& state() { return station.state; }
    DisplayModel& display() { return station.display; }
};

}  // namespace kestrel::test
