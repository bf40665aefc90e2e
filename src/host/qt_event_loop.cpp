#include "host/qt_event_loop.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cmath>

namespace kestrel {

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {}

QtEventLoop::~QtEventLoop() {
    for (auto& [fd, watch] : m_watches) {
        if (watch->reading) watch->reading->setEnabled(false);
        if (watch->writing) watch->writing->setEnabled(false);
    }
}

EventLoop::CallId QtEventLoop::callAfter(double seconds, Callback callback) {
    const CallId id = ++m_lastId;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    // Rounded up: the call never comes before its time.
    const double milliseconds = std::ceil(std::max(0.0, seconds) * 1000.0);
    timer->setInterval(static_cast<int>(std::min(milliseconds, 2.0e9)));
    connect(timer, &QTimer::timeout, this, [this, id, callback = std::move(callback)] {
        const auto it = m_calls.find(id);
        if (it == m_calls.end()) return;
        it->second->deleteLater();
        m_calls.erase(it);
        callback();
        ran();
    });
    m_calls[id] = timer;
    timer->start();
    return id;
}

void QtEventLoop::cancelCall(CallId id) {
    const auto it = m_calls.find(id);
    if (it == m_calls.end()) return;
    it->second->stop();
    it->second->deleteLater();
    m_calls.erase(it);
}

void QtEventLoop::watch(int fd, bool forReading, bool forWriting,
                        std::function<void(bool readable, bool writable)> ready) {
    auto& watch = m_watches[fd];
    if (!watch) watch = std::make_shared<Watch>();
    watch->ready = std::move(ready);
    auto arm = [this, fd](std::unique_ptr<QSocketNotifier>& notifier, QSocketNotifier::Type type,
                          bool wanted) {
        if (!wanted) {
            if (notifier) notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(fd, type);
            const bool reading = type == QSocketNotifier::Read;
            connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd, reading] {
                const auto it = m_watches.find(fd);
                if (it == m_watches.end()) return;
                // The callback may unwatch this descriptor; keep the watch alive meanwhile.
                const std::shared_ptr<Watch> keep = it->second;
                keep->ready(reading, !reading);
                ran();
            });
        }
        notifier->setEnabled(true);
    };
    arm(watch->reading, QSocketNotifier::Read, forReading);
    arm(watch->writing, QSocketNotifier::Write, forWriting);
}

void QtEventLoop::unwatch(int fd) {
    const auto it = m_watches.find(fd);
    if (it == m_watches.end()) return;
    if (it->second->reading) it->second->reading->setEnabled(false);
    if (it->second->writing) it->second->writing->setEnabled(false);
    // Deleted later: unwatch may come from inside this notifier's own signal.
    if (it->second->reading) it->second->reading.release()->deleteLater();
    if (it->second->writing) it->second->writing.release()->deleteLater();
    m_watches.erase(it);
}

void QtEventLoop::ran() {
    if (m_afterEach) m_afterEach();
}

}  // namespace kestrel
