#include "platform/systemd_notifier.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kestrel {
namespace {

// A status line is one line; systemd ends the message at a line break.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

SystemdNotifier::SystemdNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    m_active = socket && *socket;
    std::uint64_t usec = 0;
    if (m_active && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        m_pingInterval = std::chrono::microseconds(usec / 2);
    }
}

void SystemdNotifier::ready(const std::string& status) {
    send("READY=1\nSTATUS=" + oneLine(status));
}

void SystemdNotifier::status(const std::string& status) {
    send("STATUS=" + oneLine(status));
}

void SystemdNotifier::watchdog() {
    send("WATCHDOG=1");
}

bool stderrGoesToJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    std::uintmax_t device = 0, inode = 0;
    if (!stream || std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2)
        return false;
    struct stat status {};
    return fstat(STDERR_FILENO, &status) == 0 && status.st_dev == device && status.st_ino == inode;
}

void SystemdNotifier::send(const std::string& message) {
    // A failed notification changes nothing the station does.
    if (m_active) sd_notify(0, message.c_str());
}

}  // namespace kestrel
