#include "host/service_notifications.h"

#include <QTimer>
#include <algorithm>

#include "status/status_json.h"

namespace kestrel {
namespace {

constexpr int kStatusCheckMs = 1000;

}  // namespace

ServiceNotifications::ServiceNotifications(const Station& station, SystemdNotifier& notifier,
                                           QObject* parent)
    : QObject(parent), m_station(station), m_notifier(notifier) {
    if (!m_notifier.active()) return;
    const auto interval = m_notifier.watchdogPingInterval();
    if (interval.count() > 0) {
        const auto ping = std::max(std::chrono::milliseconds(1),
                                   std::chrono::duration_cast<std::chrono::milliseconds>(interval));
        auto* watchdog = new QTimer(this);
        watchdog->setTimerType(Qt::PreciseTimer);
        connect(watchdog, &QTimer::timeout, this, [this] { m_notifier.watchdog(); });
        watchdog->start(ping);
    }
    auto* status = new QTimer(this);
    connect(status, &QTimer::timeout, this, &ServiceNotifications::updateStatus);
    status->start(kStatusCheckMs);
}

void ServiceNotifications::started() {
    m_statusSent = onAirSummary(m_station);
    m_notifier.ready(m_statusSent);
}

void ServiceNotifications::updateStatus() {
    std::string line = onAirSummary(m_station);
    if (line == m_statusSent) return;
    m_notifier.status(line);
    m_statusSent = std::move(line);
}

}  // namespace kestrel
