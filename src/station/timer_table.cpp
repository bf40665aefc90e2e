#include "station/timer_table.h"

#include <algorithm>
#include <stdexcept>

namespace kestrel {

void TimerTable::add(std::string name, int intervalMs, std::function<void()> handler) {
    if (find(name)) throw std::logic_error("timer added twice: " + name);
    m_timers.push_back(Timer{std::move(name), intervalMs, std::move(handler), false});
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

void TimerTable::fire(const std::string& name) {
    Timer* timer = find(name);
    if (timer && timer->handler) timer->handler();
}

void TimerTable::fire(std::size_t index) {
    if (index < m_timers.size() && m_timers[index].handler) m_timers[index].handler();
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
