#pragma once

#include <chrono>
#include <string>

namespace kestrel {

/// The station's messages to systemd (sd_notify from libsystemd). Without
/// NOTIFY_SOCKET in the environment it is inactive and sends nothing.
class SystemdNotifier {
public:
    /// Reads NOTIFY_SOCKET and the watchdog interval (WATCHDOG_USEC, as
    /// sd_watchdog_enabled reports it for this process).
    SystemdNotifier();

    bool active() const { return m_active; }
    /// Half the watchdog interval systemd asks for; zero when it asks for none.
    std::chrono::microseconds watchdogPingInterval() const { return m_pingInterval; }

    /// "READY=1" with a status line: start-up has finished.
    void ready(const std::string& status);
    /// "STATUS=" + `status`, shown by systemctl status.
    void status(const std::string& status);
    /// "WATCHDOG=1": the event loop is alive.
    void watchdog();

private:
    void send(const std::string& message);

    bool m_active = false;
    std::chrono::microseconds m_pingInterval{0};
};

/// Whether stderr is a stream to the journal (JOURNAL_STREAM names its device
/// and inode), where a "<N>" line prefix sets the entry's priority.
bool stderrGoesToJournal();

}  // namespace kestrel
