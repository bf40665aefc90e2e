#pragma once

#include <QObject>
#include <string>

#include "platform/systemd_notifier.h"
#include "station/station.h"

class QTimer;

namespace kestrel {

/// Keeps systemd informed from the station's event loop: READY=1 once
/// started, a STATUS= line naming the source on air whenever it changes, and
/// WATCHDOG=1 at half the interval systemd asks for, so that a loop that
/// hangs stops the pings and systemd restarts the station. Does nothing when
/// no service manager listens.
class ServiceNotifications : public QObject {
    Q_OBJECT
public:
    ServiceNotifications(const Station& station, SystemdNotifier& notifier,
                         QObject* parent = nullptr);

    /// Start-up has finished: READY=1 and the first status line.
    void started();

private:
    void updateStatus();

    const Station& m_station;
    SystemdNotifier& m_notifier;
    std::string m_statusSent;
};

}  // namespace kestrel
