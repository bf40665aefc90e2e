#include "support/sim_host.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrel::test {

SimHost::SimHost() {
    loop.immediate = false;
    players.clock = &clock;  // players start, play, stall and end on virtual time
    controller = std::make_unique<StationController>(platform());
    Station& s = controller->station();
    s.host = this;
    s.journal.setOutput(&journal);
    m_nextDue.assign(s.timers.timers().size(), kUnarmed);
    for (const auto& timer : s.timers.timers())
        m_firedCount.push_back(&fired[timer.name]);
    s.timers.setOnEnabledChanged([this](const TimerTable::Timer& timer) { arm(timer); });
    for (const auto& timer : s.timers.timers()) {
        if (timer.enabled) arm(timer);
    }
}

SimHost::~SimHost() {
    controller->station().timers.setOnEnabledChanged(nullptr);
}

std::size_t SimHost::indexOf(const TimerTable::Timer& timer) const {
    return static_cast<std::size_t>(&timer - controller->station().timers.timers().data());
}

void SimHost::arm(const TimerTable::Timer& timer) {
    m_nextDue[indexOf(timer)] = timer.enabled ? clock.ms() + timer.intervalMs : kUnarmed;
}

void SimHost::start() {
    controller->startUp();
}

void SimHost::runFor(double seconds) {
    runUntilMs(clock.ms() + static_cast<std::int64_t>(seconds * 1000.0));
}

void SimHost::finishWhen(const std::function<bool()>& done) {
    const auto limit = clock.ms() + 600'000;
    while (!done() && clock.ms() < limit) {
        const auto next = loop.nextDueMs();
        if (!next) break;
        runUntilMs(std::max(*next, clock.ms()));
    }
    EXPECT_TRUE(done()) << "the run still waits";
}

void SimHost::runUntil(int year, int month, int day, int hour, int minute, int second) {
    runUntilMs(civilToMs(year, month, day, hour, minute, second));
}

void SimHost::runUntilMs(std::int64_t endMs) {
    auto& timers = controller->station().timers;
    for (;;) {
        // The earliest due timer; ties go in table order, as the host registers them.
        std::size_t next = m_nextDue.size();
        std::int64_t nextDue = 0;
        for (std::size_t i = 0; i < m_nextDue.size(); ++i) {
            if (m_nextDue[i] == kUnarmed) continue;
            if (next == m_nextDue.size() || m_nextDue[i] < nextDue) {
                next = i;
                nextDue = m_nextDue[i];
            }
        }
        // Waits that end (overlaps, answers) run before timers due at the same time.
        const auto callDue = loop.nextDueMs();
        const bool timerDue = next != m_nextDue.size() && nextDue <= endMs;
        if (callDue && *callDue <= endMs && (!timerDue || *callDue <= nextDue)) {
            loop.runOneDueBy(endMs);
            continue;
        }
        if (!timerDue) break;
        if (nextDue > clock.ms()) clock.setMs(nextDue);
        const auto& timer = timers.timers()[next];
        const int interval = timer.intervalMs;
        // Reschedule as a QTimer does, before its handler runs: from the due time,
        // or from now when late. A tick missed while this handler blocks then
        // fires once afterwards, like every other timer's.
        std::int64_t following = nextDue + interval;
        if (following <= clock.ms()) following = clock.ms() + interval;
        timers.fire(next);
        ++*m_firedCount[next];
        if (m_nextDue[next] == nextDue) m_nextDue[next] = following;
    }
    if (clock.ms() < endMs) clock.setMs(endMs);
}

}  // namespace kestrel::test
