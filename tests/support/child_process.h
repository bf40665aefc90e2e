#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

/// A program the test starts in `workdir`, in a process group of its own
/// (so helpers it starts, such as a browser, go with it), with stdout and
/// stderr into `log` and `environment` ("NAME=value") added to the test's.
/// Stopped by its pid when the object goes: SIGTERM to the group, SIGKILL
/// after five seconds, then reaped.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& workdir,
                 const std::filesystem::path& log,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    /// Whether it ended within `limit`; reaps it if so.
    bool exitedWithin(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
};

/// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

/// A TCP connection over 127.0.0.1 within this process, as a player holds its
/// stream's: the listener, the connecting end and the accepted end. Closes all
/// three when it goes.
struct LoopbackConnection {
    /// Connects `clientFd` when given (a socket made earlier), else a new socket.
    explicit LoopbackConnection(int clientFd = -1);
    ~LoopbackConnection();
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    int listener = -1;
    int client = -1;
    int accepted = -1;
};

}  // namespace kestrel::test
