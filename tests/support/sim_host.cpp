#include "support/sim_host.h"

namespace kestrel::test {

SimHost::SimHost() {
    Platform platform{clock,       players,     players, InetAIR,
                      InetWeather, InetTestURL, Inet1,   dir.path()};
    controller = std::make_unique<StationController>(platform);
    Station& s = controller->station();
    s.host = this;
    s.timers.setOnEnabledChanged([this](const TimerTable::Timer& timer) { arm(timer); });
    for (const auto& timer : s.timers.timers()) {
        if (timer.enabled) arm(timer);
    }
}

SimHost::~SimHost() {
    controller->station().timers.setOnEnabledChanged(nullptr);
}

void SimHost::arm(const TimerTable::Timer& timer) {
    if (timer.enabled) {
        m_nextDue[timer.name] = clock.ms() + timer.intervalMs;
    } else {
        m_nextDue.erase(timer.name);
    }
}

void SimHost::start() {
    controller->startUp();
}

void SimHost::runFor(double seconds) {
    runUntilMs(clock.ms() + static_cast<std::int64_t>(seconds * 1000.0));
}

void SimHost::runUntil(int year, int month, int day, int hour, int minute, int second) {
    runUntilMs(civilToMs(year, month, day, hour, minute, second));
}

void SimHost::runUntilMs(std::int64_t endMs) {
    auto& timers = controller->station().timers;
    for (;;) {
        // The earliest due timer; ties go in table order, as the host registers them.
        const TimerTable::Timer* next = nullptr;
        std::int64_t nextDue = 0;
        for (const auto& timer : timers.timers()) {
            const auto due = m_nextDue.find(timer.name);
            if (due == m_nextDue.end()) continue;
            if (!next || due->second < nextDue) {
                next = &timer;
                nextDue = due->second;
            }
        }
        if (!next || nextDue > endMs) break;
        if (nextDue > clock.ms()) clock.setMs(nextDue);
        const std::string name = next->name;
        const int interval = next->intervalMs;
        // Reschedule as a QTimer does, before its handler runs: from the due time,
        // or from now when late. A tick missed while this handler blocks then
        // fires once afterwards, like every other timer's.
        std::int64_t following = nextDue + interval;
        if (following <= clock.ms()) following = clock.ms() + interval;
        timers.fire(name);
        ++fired[name];
        auto armed = m_nextDue.find(name);
        if (armed != m_nextDue.end() && armed->second == nextDue) armed->second = following;
    }
    if (clock.ms() < endMs) clock.setMs(endMs);
}

}  // namespace kestrel::test
