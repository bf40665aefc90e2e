#include "platform/posix_player_ends.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {

PosixPlayerEnds::~PosixPlayerEnds() {
    stopWatching(1);
    stopWatching(2);
}

void PosixPlayerEnds::stopWatching(int slot) {
    int& fd = m_pidfds[slot == 2 ? 1 : 0];
    if (fd < 0) return;
    m_loop.unwatch(fd);
    ::close(fd);
    fd = -1;
}

void PosixPlayerEnds::report(int slot) {
    if (m_ended) m_ended(slot);
}

void PosixPlayerEnds::started(int slot, pid_t pid) {
    stopWatching(slot);
    if (pid <= 0) return;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        // Ended already (or no pidfd on this kernel: the once-a-second look remains).
        if (errno == ESRCH) m_loop.callAfter(0, [this, slot] { report(slot); });
        return;
    }
    m_pidfds[slot == 2 ? 1 : 0] = fd;
    m_loop.watch(fd, true, false, [this, slot](bool readable, bool) {
        if (!readable) return;
        stopWatching(slot);
        report(slot);
    });
}

}  // namespace kestrel
