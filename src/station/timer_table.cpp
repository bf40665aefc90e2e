#include "station/timer_table.h"

#include <algorithm>
#include <stdexcept>

#include "station/exception_barrier.h"

namespace kestrel {

void TimerTable::add(Timer timer) {
    if (find(timer.name)) throw std::logic_error("timer added twice: " + timer.name);
    m_timers.push_back(std::move(timer));
}

void TimerTable::add(std::string name, int intervalMs, std::function<void()> handler) {
    Timer timer;
    timer.name = std::move(name);
    timer.intervalMs = intervalMs;
    timer.handler = std::move(handler);
    add(std::move(timer));
}

void TimerTable::addWaiting(std::string name, int intervalMs, std::function<Task<>()> handler) {
    Timer timer;
    timer.name = std::move(name);
    timer.intervalMs = intervalMs;
    timer.waitingRun = std::move(handler);
    add(std::move(timer));
}

void TimerTable::setEnabled(const std::string& name, bool enabled) {
    Timer* timer = find(name);
    if (!timer || timer->enabled == enabled) return;
    timer->enabled = enabled;
    if (m_onEnabledChanged) m_onEnabledChanged(*timer);
}

bool TimerTable::isEnabled(const std::string& name) const {
    const Timer* timer = find(name);
    return timer && timer->enabled;
}

bool TimerTable::isWaiting(const std::string& name) const {
    const Timer* timer = find(name);
    return timer && !timer->running.done();
}

void TimerTable::fire(Timer& timer) {
    if (!timer.running.done()) {
        ++timer.skipped;
        return;
    }
    const std::string name = timer.name;
    const std::function<void(const std::string&)> report = [this, name](const std::string& what) {
        if (m_onFailure) m_onFailure(name, what);
    };
    runBehindBarrier(
        [&] {
            if (timer.waitingRun) {
                timer.running = behindBarrier(timer.waitingRun(), report);
            } else if (timer.handler) {
                timer.handler();
            }
        },
        report);
}

void TimerTable::fire(const std::string& name) {
    if (Timer* timer = find(name)) fire(*timer);
}

void TimerTable::fire(std::size_t index) {
    if (index < m_timers.size()) fire(m_timers[index]);
}

void TimerTable::abandonRuns() {
    for (auto& timer : m_timers)
        timer.running = {};
}

TimerTable::Timer* TimerTable::find(const std::string& name) {
    auto it = std::find_if(m_timers.begin(), m_timers.end(),
                           [&](const Timer& t) { return t.name == name; });
    return it == m_timers.end() ? nullptr : &*it;
}

const TimerTable::Timer* TimerTable::find(const std::string& name) const {
    return const_cast<TimerTable*>(this)->find(name);
}

}  // namespace kestrel
