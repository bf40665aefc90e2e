#pragma once

#include <sstream>
#include <string>

#include "platform/platform.h"
#include "support/fake_clock.h"
#include "support/fake_event_loop.h"
#include "support/fake_fetcher.h"
#include "support/fake_players.h"
#include "support/temp_dir.h"

namespace kestrel::test {

/// Everything a station needs around it, faked: a temporary station
/// directory, virtual time (Monday 2026-12-07 08:00:00) and its event loop,
/// simulated players, the six scripted fetchers, and a stream that collects
/// the station's journal.
struct FakeWorld {
    FakeWorld() {
        players.clock = &clock;
        players.endsVia = &loop;
    }
    FakeWorld(const FakeWorld&) = delete;
    FakeWorld& operator=(const FakeWorld&) = delete;

    Platform platform() {
        return Platform{clock,
                        players,
                        players,
                        loop,
                        airFetcher,
                        weatherFetcher,
                        sourceCheckFetcher,
                        managementFetcher,
                        changePollFetcher,
                        statusReportFetcher,
                        dir.path(),
                        players,
                        players,
                        players};
    }

    /// Writes a station file.
    void write(const std::string& name, const std::string& bytes) { dir.write(name, bytes); }
    /// A station file's bytes, or "<missing>".
    std::string read(const std::string& name) const { return dir.read(name); }

    TempDir dir;
    FakeClock clock;
    FakeEventLoop loop{clock};
    FakePlayers players{dir.path()};
    FakeFetcher airFetcher{&loop};
    FakeFetcher weatherFetcher{&loop};
    FakeFetcher sourceCheckFetcher{&loop};
    FakeFetcher managementFetcher{&loop};
    FakeFetcher changePollFetcher{&loop};
    FakeFetcher statusReportFetcher{&loop};
    std::ostringstream journal;
};

}  // namespace kestrel::test
