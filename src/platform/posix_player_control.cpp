#include "platform/posix_player_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <string>

#include "platform/station_command.h"

namespace kestrel {
namespace {

// A write to a FIFO whose reader has just gone raises SIGPIPE, which would end
// the station: it is blocked on this thread for the write and a pending one
// taken back, so the write simply fails with EPIPE.
ssize_t writeWithoutSigpipe(int fd, const std::string& bytes) {
    sigset_t pipeOnly;
    sigset_t before;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    ssize_t written;
    do {
        written = ::write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &none) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return written;
}

}  // namespace

std::filesystem::path PosixPlayerControl::fifo(int slot) const {
    if (!isPlayerSlot(slot)) return {};
    const auto levels = m_levels.file(slot, TapPoint::Heard);
    if (levels.empty()) return {};
    return std::filesystem::path(levels).replace_extension(".control");
}

std::filesystem::path PosixPlayerControl::renew(int slot) {
    const auto path = fifo(slot);
    if (path.empty()) return {};
    // A player still ending may hold the old FIFO; the new one gets its own.
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) return {};
    return path;
}

bool PosixPlayerControl::send(int slot, std::string_view command) {
    const auto path = fifo(slot);
    if (path.empty() || command.size() + 1 > PIPE_BUF) return false;
    // ENXIO: nobody reads it. O_NOFOLLOW and the FIFO check: never write into
    // anything else that took its name.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    bool sent = false;
    if (::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) && info.st_uid == ::getuid()) {
        const std::string line = std::string(command) + "\n";
        sent = writeWithoutSigpipe(fd, line) == static_cast<ssize_t>(line.size());
    }
    ::close(fd);
    return sent;
}

}  // namespace kestrel
