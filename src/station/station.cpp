#include "station/station.h"

#include <algorithm>
#include <iostream>

#include "station/exception_barrier.h"
#include "station/station_events.h"
#include "station/timer_names.h"
#include "station/waits.h"

namespace kestrel {

Station::Station(Platform platformIn)
    : platform(platformIn), switching(platformIn.loop), journal(&std::cerr) {
    counters.startTime = platform.clock.epochSeconds();
    timers.setOnFailure([this](const std::string& timer, const std::string& what) {
        recordHandlerFailure(*this, timer, what);
    });
}

Station::~Station() {
    // Tasks still waiting are abandoned; none of them may take a turn now.
    switching.close();
    m_spawned.clear();
    statusReport = {};
    timers.abandonRuns();
}

Task<> Station::Pause(double interval) {
    const double start = platform.clock.steadySeconds();
    for (;;) {
        const double now = platform.clock.steadySeconds();
        if (steadySecondsPassed(start, now, interval)) co_return;
        co_await sleepOn(platform.loop, interval - (now - start));
    }
}

bool Station::automatic() const {
    return timers.isEnabled(timer::tmrCheckAndDoEvents);
}

void Station::run(const StationCommand& command, WindowStyle style) {
    platform.runner.run(command, style);
    platform.processes.forget();
}

namespace {

Task<> withoutResult(Task<bool> task) {
    co_await task;
}

}  // namespace

void Station::spawn(Task<bool> task) {
    spawn(withoutResult(std::move(task)));
}

void Station::spawn(Task<> task) {
    std::erase_if(m_spawned, [](const Task<>& spawned) { return spawned.done(); });
    Task<> guarded = behindBarrier(std::move(task), [this](const std::string& what) {
        recordHandlerFailure(*this, "task", what);
    });
    if (!guarded.done()) m_spawned.push_back(std::move(guarded));
}

}  // namespace kestrel
