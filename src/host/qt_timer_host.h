#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <string>

#include "station/timer_table.h"

namespace kestrel {

/// One QTimer per entry of the station's timer table, started and stopped as
/// the table says. Qt delivers a timer that fell due while another handler
/// blocked once, afterwards; missed ticks are not made up.
class QtTimerHost : public QObject {
    Q_OBJECT
public:
    /// `afterTick` runs after every handler (the window re-renders there).
    QtTimerHost(TimerTable& table, std::function<void()> afterTick, QObject* parent = nullptr);
    ~QtTimerHost() override;

private:
    void apply(const TimerTable::Timer& timer);

    TimerTable& m_table;
    std::function<void()> m_afterTick;
    std::map<std::string, QTimer*> m_timers;
};

}  // namespace kestrel
