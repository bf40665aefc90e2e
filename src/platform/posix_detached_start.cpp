#include "platform/posix_detached_start.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace kestrel {
namespace {

// Owns a descriptor numbered 3 or above, so the dup2 calls onto 0, 1 and 2
// in the child can never overwrite one another's source.
class HighFd {
public:
    explicit HighFd(int fd) {
        if (fd >= 0 && fd <= 2) {
            m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            ::close(fd);
        } else {
            m_fd = fd;
        }
    }
    ~HighFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    HighFd(const HighFd&) = delete;
    HighFd& operator=(const HighFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct ChildPlan {
    const char* program;
    char* const* argv;
    const char* workdir;
    char* const* envp;
    int devNull;
    int out;
    int err;
    int errorPipe;
    int maxFd;
    sigset_t emptyMask;
};

[[noreturn]] void reportAndExit(int errorPipe) {
    const int error = errno;
    ssize_t ignored = ::write(errorPipe, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// Runs in the grandchild between fork and exec: async-signal-safe calls only.
[[noreturn]] void execChild(const ChildPlan& plan) {
    ::setsid();
    ::sigprocmask(SIG_SETMASK, &plan.emptyMask, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &defaultAction, nullptr);
    }
    if (::dup2(plan.devNull, 0) < 0 || ::dup2(plan.out, 1) < 0 || ::dup2(plan.err, 2) < 0)
        reportAndExit(plan.errorPipe);
    if (::chdir(plan.workdir) != 0) reportAndExit(plan.errorPipe);
    // Sockets and files the station holds open (the API listener among them)
    // must not stay open in a player that outlives it.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd <= plan.maxFd; ++fd) {
            if (fd != plan.errorPipe) ::close(fd);
        }
    }
    ::execve(plan.program, plan.argv, plan.envp);
    reportAndExit(plan.errorPipe);
}

int highestFdToClose() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65535;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536) - 1);
}

// The station's environment with `added` in place of entries of the same name.
std::vector<std::string> environmentWith(const std::vector<std::string>& added) {
    const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const bool replaced = std::any_of(
            added.begin(), added.end(), [&](const auto& a) { return nameOf(a) == nameOf(*entry); });
        if (!replaced) result.emplace_back(*entry);
    }
    result.insert(result.end(), added.begin(), added.end());
    return result;
}

}  // namespace

bool isExecutableFile(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> findOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    const std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const auto end = std::min(dirs.find(':', start), dirs.size());
        const std::filesystem::path dir(dirs.substr(start, end - start));
        // Relative entries would depend on the station's current directory.
        if (dir.is_absolute() && isExecutableFile(dir / name)) return dir / name;
        start = end + 1;
    }
    return std::nullopt;
}

bool startDetached(const DetachedStart& start, pid_t* startedPid) {
    if (start.args.empty()) return false;
    // Everything the children use is prepared before the fork.
    std::vector<char*> argv;
    for (const auto& arg : start.args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> environment = environmentWith(start.environment);
    std::vector<char*> envp;
    for (const auto& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const std::string program = start.program.string();
    const std::string workdir = start.workdir.string();

    HighFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    HighFd out(::fcntl(start.stdoutFd >= 0 ? start.stdoutFd : devNull.get(), F_DUPFD_CLOEXEC, 3));
    int pipeFds[2];
    if (!devNull.valid() || !out.valid() || ::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    HighFd errorRead(pipeFds[0]);
    HighFd errorWrite(pipeFds[1]);
    if (!errorRead.valid() || !errorWrite.valid()) return false;
    // The middle child hands the program's process id over on a pipe of its own.
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    HighFd pidRead(pipeFds[0]);
    HighFd pidWrite(pipeFds[1]);
    if (!pidRead.valid() || !pidWrite.valid()) return false;

    ChildPlan plan{program.c_str(),
                   argv.data(),
                   workdir.c_str(),
                   envp.data(),
                   devNull.get(),
                   out.get(),
                   start.stderrToStdout ? out.get() : devNull.get(),
                   errorWrite.get(),
                   highestFdToClose(),
                   {}};
    sigemptyset(&plan.emptyMask);

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) execChild(plan);
        if (grandchild > 0) {
            ssize_t ignored = ::write(pidWrite.get(), &grandchild, sizeof grandchild);
            (void)ignored;
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    errorWrite.reset();
    pidWrite.reset();

    // The pipe reaches end of file once the grandchild has executed the
    // program (close-on-exec) or has ended; an errno arrives only on failure.
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(errorRead.get(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    const bool forked = waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // ECHILD: someone else reaped it (SIGCHLD ignored); the pipe still tells.
    const bool reaped = forked || (waited < 0 && errno == ECHILD);
    if (!reaped || got != 0) return false;
    if (startedPid) {
        pid_t pid = -1;
        ssize_t pidGot;
        do {
            pidGot = ::read(pidRead.get(), &pid, sizeof pid);
        } while (pidGot < 0 && errno == EINTR);
        *startedPid = pidGot == static_cast<ssize_t>(sizeof pid) ? pid : -1;
    }
    return true;
}

}  // namespace kestrel
