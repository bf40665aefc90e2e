#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controller/station_controller.h"
#include "support/fake_world.h"

namespace kestrel::test {

/// The station on virtual time: a temporary station directory, the fake
/// clock, players and fetchers, and an event loop that behaves like the Qt
/// host's (one thread; waits end at their virtual time while timers go on;
/// a tick whose handler still waits is skipped). A virtual week runs in
/// milliseconds.
class SimHost : public HostHooks, public FakeWorld {
public:
    SimHost();
    ~SimHost() override;

    /// Runs the start-up sequence and arms the timers.
    void start();

    /// Runs every timer that falls due in the next `seconds` of virtual time.
    void runFor(double seconds);
    /// Runs virtual time until a handler's run has ended (at most a minute more
    /// than its own waits, so a run that never ends fails the test).
    template <typename T>
    void finish(const Task<T>& run) {
        finishWhen([&run] { return run.done(); });
    }
    /// Runs until the virtual clock reads this local time (must be ahead).
    void runUntil(int year, int month, int day, int hour, int minute, int second);

    Station& station() { return controller->station(); }
    StationState& state() { return controller->station().state; }
    DisplayModel& display() { return controller->station().display; }

    /// How often each timer ran, by name.
    std::map<std::string, int> fired;

    // HostHooks
    void setMaximised(bool maximised) override { this->maximised = maximised; }
    void endProgram() override { ++endRequests; }
    void showApiWindow() override { ++apiWindowShown; }
    bool maximised = false;
    int endRequests = 0;
    int apiWindowShown = 0;

    std::unique_ptr<StationController> controller;

private:
    void finishWhen(const std::function<bool()>& done);
    void arm(const TimerTable::Timer& timer);
    void runUntilMs(std::int64_t endMs);

    static constexpr std::int64_t kUnarmed = -1;
    std::size_t indexOf(const TimerTable::Timer& timer) const;

    // By timer-table position: when each armed timer is due next, and its
    // count in `fired` (map nodes stay put, so the pointers stay valid).
    std::vector<std::int64_t> m_nextDue;
    std::vector<int*> m_firedCount;
};

}  // namespace kestrel::test
