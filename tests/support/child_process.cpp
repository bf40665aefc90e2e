#include "support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace kestrel::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::filesystem::path& workdir, const std::filesystem::path& log,
                           const std::vector<std::string>& environment) {
    // Built before the fork (a test program has threads); env(1) adds the variables.
    std::vector<std::string> command = {"env"};
    command.insert(command.end(), environment.begin(), environment.end());
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& arg : command)
        args.push_back(arg.data());
    args.push_back(nullptr);

    m_pid = fork();
    if (m_pid != 0) {
        if (m_pid > 0) setpgid(m_pid, m_pid);  // before the test can signal the group
        return;
    }
    setpgid(0, 0);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || chdir(workdir.c_str()) != 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
}

bool ChildProcess::exitedWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_reaped) {
        m_reaped = m_pid <= 0 || waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        if (m_reaped || std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_reaped;
}

ChildProcess::~ChildProcess() {
    if (m_pid <= 0 || m_reaped) return;
    kill(-m_pid, SIGTERM);
    if (exitedWithin(std::chrono::seconds(5))) {
        kill(-m_pid, SIGKILL);  // helpers that outlived their leader
        return;
    }
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

namespace {

// A TCP socket bound to a free port of 127.0.0.1; its address in `address`.
int boundLoopbackSocket(sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return fd;
}

}  // namespace

int freeLoopbackPort() {
    sockaddr_in address{};
    ::close(boundLoopbackSocket(address));
    return ntohs(address.sin_port);
}

LoopbackConnection::LoopbackConnection(int clientFd) {
    sockaddr_in address{};
    listener = boundLoopbackSocket(address);
    ::listen(listener, 1);
    client = clientFd >= 0 ? clientFd : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

LoopbackConnection::~LoopbackConnection() {
    for (const int fd : {accepted, client, listener}) {
        if (fd >= 0) ::close(fd);
    }
}

}  // namespace kestrel::test
