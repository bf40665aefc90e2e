#include "station/station.h"

#include <algorithm>
#include <iostream>

#include "station/exception_barrier.h"
#include "station/station_events.h"
#include "station/station_files.h"
#include "station/timer_names.h"
#include "station/utf8_text.h"
#include "station/waits.h"

namespace kestrel {

Station::Station(Platform platformIn) : platform(platformIn), journal(&std::cerr) {
    counters.startTime = platform.clock.epochSeconds();
    timers.setOnFailure([this](const std::string& timer, const std::string& what) {
        recordHandlerFailure(*this, timer, what);
    });
    journal.setObserver(
        [this](std::string_view event, std::initializer_list<Journal::Field> fields) {
            keepInHistory(event, fields);
        });
}

void Station::keepInHistory(std::string_view event, std::initializer_list<Journal::Field> fields) {
    if (!History::keeps(event)) return;
    std::vector<std::pair<std::string, std::string>> kept;
    for (const auto& field : fields)
        kept.emplace_back(field.key, utf8FromStationText(field.value));
    noteHistoryWrite(
        history.add(platform.clock.epochSeconds(), std::string(event), std::move(kept)));
}

void Station::noteHistoryWrite(History::Appended appended) {
    // A history that has always been written adds nothing to the file counts.
    if (appended && (*appended || counters.fileWrites.contains(kHistoryFile)))
        noteFileWrite(*this, kHistoryFile, *appended);
}

Station::~Station() {
    // Tasks still waiting are abandoned.
    m_onFactsChanged = nullptr;
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
