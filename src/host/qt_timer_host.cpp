#include "host/qt_timer_host.h"

namespace kestrel {

QtTimerHost::QtTimerHost(TimerTable& table, std::function<void()> afterTick, QObject* parent)
    : QObject(parent), m_table(table), m_afterTick(std::move(afterTick)) {
    const auto& entries = m_table.timers();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const auto& entry = entries[index];
        auto* timer = new QTimer(this);
        timer->setInterval(entry.intervalMs);
        timer->setTimerType(Qt::PreciseTimer);
        const std::string name = entry.name;
        connect(timer, &QTimer::timeout, this, [this, index] {
            m_table.fire(index);
            if (m_afterTick) m_afterTick();
        });
        m_timers[name] = timer;
        apply(entry);
    }
    m_table.setOnEnabledChanged([this](const TimerTable::Timer& entry) { apply(entry); });
}

QtTimerHost::~QtTimerHost() {
    m_table.setOnEnabledChanged(nullptr);
}

void QtTimerHost::apply(const TimerTable::Timer& entry) {
    auto it = m_timers.find(entry.name);
    if (it == m_timers.end()) return;
    if (entry.enabled) {
        it->second->start();
    } else {
        it->second->stop();
    }
}

}  // namespace kestrel
