#include "platform/proc_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>
#include <string>

namespace kestrel {
namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

std::string_view withoutExe(std::string_view name) {
    constexpr std::string_view exe = ".exe";
    if (name.size() > exe.size() && equalIgnoringCase(name.substr(name.size() - exe.size()), exe))
        return name.substr(0, name.size() - exe.size());
    return name;
}

// One read is enough for what is looked at here (comm, stat, the Uid line
// of status, argv[0]); a second read would make the kernel build the file again.
bool readHead(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return false;
    out.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

// The whole of a file that may be larger than one read (an environment).
bool readAll(const std::string& path, std::string& out) {
    constexpr std::size_t kMost = 4 << 20;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buffer[16384];
    ssize_t n;
    for (;;) {
        n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || out.size() + static_cast<std::size_t>(n) > kMost) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return n == 0;
}

// The value of `name` in a NUL-separated environment; the first one counts.
std::optional<std::string_view> environmentValue(std::string_view environment,
                                                 std::string_view name) {
    while (!environment.empty()) {
        const auto end = environment.find('\0');
        const auto entry = environment.substr(0, end);
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            return entry.substr(name.size() + 1);
        if (end == std::string_view::npos) break;
        environment.remove_prefix(end + 1);
    }
    return std::nullopt;
}

std::optional<pid_t> pidOf(std::string_view name) {
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0 ||
        pid > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

// "pid (comm) S ...": comm may hold blanks and parentheses, so it ends at the last ")".
bool parseStat(const std::string& stat, std::string_view& comm, char& state) {
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    if (close + 2 >= stat.size()) return false;
    comm = std::string_view(stat).substr(open + 1, close - open - 1);
    state = stat[close + 2];
    return true;
}

std::optional<uid_t> realUid(const std::string& status) {
    const auto at = status.find("\nUid:");
    if (at == std::string::npos) return std::nullopt;
    std::size_t i = at + 5;
    while (i < status.size() && (status[i] == ' ' || status[i] == '\t'))
        ++i;
    if (i >= status.size() || status[i] < '0' || status[i] > '9') return std::nullopt;
    unsigned long uid = 0;
    while (i < status.size() && status[i] >= '0' && status[i] <= '9')
        uid = uid * 10 + static_cast<unsigned long>(status[i++] - '0');
    return static_cast<uid_t>(uid);
}

std::string_view argv0BaseName(const std::string& cmdline) {
    std::string_view argv0(cmdline.c_str());  // up to the first NUL
    const auto slash = argv0.rfind('/');
    return slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
}

}  // namespace

std::string stationMark(const std::filesystem::path& stationDir) {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(stationDir, ignored),
                                             ignored)
        .string();
}

bool startedByStation(pid_t pid, std::string_view mark, const std::filesystem::path& procRoot) {
    const std::string dir = procRoot.string() + "/" + std::to_string(pid);
    std::string environment;
    if (!readAll(dir + "/environ", environment)) return false;
    if (const auto marked = environmentValue(environment, kStationVariable)) return *marked == mark;
    std::error_code error;
    const auto cwd = std::filesystem::read_symlink(dir + "/cwd", error);
    return !error && cwd == mark;
}

bool isProcessName(std::string_view candidate, std::string_view executableName) {
    const auto wanted = withoutExe(executableName);
    if (wanted.empty()) return false;
    return equalIgnoringCase(withoutExe(candidate), wanted);
}

ProcessWalk::ProcessWalk(std::string mark, std::filesystem::path procRoot)
    : m_mark(std::move(mark)), m_procRoot(std::move(procRoot)) {}

std::optional<std::vector<std::vector<pid_t>>> ProcessWalk::find(
    std::span<const std::string> names) {
    if (!std::equal(names.begin(), names.end(), m_names.begin(), m_names.end())) {
        m_names.assign(names.begin(), names.end());
        m_passedOver.clear();
    }
    DIR* proc = ::opendir(m_procRoot.c_str());
    if (!proc) return std::nullopt;
    const uid_t me = ::getuid();
    constexpr auto kTrustPassedOver = std::chrono::seconds(10);
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::vector<pid_t>> found(names.size());
    std::unordered_map<pid_t, PassedOver> passedOver;
    bool sawAnyProcess = false;
    std::string comm, cmdline, stat, status;
    while (const dirent* entry = ::readdir(proc)) {
        const auto pid = pidOf(entry->d_name);
        if (!pid) continue;
        sawAnyProcess = true;
        const auto known = m_passedOver.find(*pid);
        if (known != m_passedOver.end() && now - known->second.readAt < kTrustPassedOver) {
            passedOver.insert(m_passedOver.extract(known));
            continue;
        }
        // A process may end while it is being looked at; its files then vanish and it is skipped.
        const std::string dir = m_procRoot.string() + "/" + entry->d_name;
        // The name first, from comm (cheap to read) or argv[0]: the kernel
        // builds stat only for the few processes that have it.
        if (!readHead(dir + "/comm", comm)) continue;
        if (comm.ends_with('\n')) comm.pop_back();
        if (known != m_passedOver.end() && known->second.comm == comm) {
            passedOver.emplace(*pid, PassedOver{comm, now});
            continue;
        }
        std::optional<std::string_view> argv0;
        std::size_t index = 0;
        for (; index < names.size(); ++index) {
            if (isProcessName(comm, names[index])) break;
            if (!argv0) argv0 = readHead(dir + "/cmdline", cmdline) ? argv0BaseName(cmdline) : "";
            if (isProcessName(*argv0, names[index])) break;
        }
        if (index == names.size()) {
            passedOver.emplace(*pid, PassedOver{comm, now});
            continue;
        }
        std::string_view statComm;
        char state = 0;
        if (!readHead(dir + "/stat", stat) || !parseStat(stat, statComm, state)) continue;
        if (state == 'Z' || state == 'X' || state == 'x') continue;
        // Another user's or another station's player keeps that owner until it
        // execs, which changes its comm.
        if (!readHead(dir + "/status", status) || realUid(status) != me ||
            !startedByStation(*pid, m_mark, m_procRoot)) {
            passedOver.emplace(*pid, PassedOver{comm, now});
            continue;
        }
        found[index].push_back(*pid);
    }
    ::closedir(proc);
    m_passedOver = std::move(passedOver);
    // A real /proc always lists at least this process; an empty one is not mounted.
    if (!sawAnyProcess) return std::nullopt;
    return found;
}

std::optional<std::vector<pid_t>> findStationProcesses(std::string_view executableName,
                                                       std::string_view mark,
                                                       const std::filesystem::path& procRoot) {
    const std::string name(executableName);
    auto found = ProcessWalk(std::string(mark), procRoot).find(std::span(&name, 1));
    if (!found) return std::nullopt;
    return std::move(found->front());
}

std::optional<std::uint64_t> readCharacters(pid_t pid, const std::filesystem::path& procRoot) {
    std::string io;
    if (!readHead(procRoot.string() + "/" + std::to_string(pid) + "/io", io)) return std::nullopt;
    constexpr std::string_view kField = "rchar:";
    if (!io.starts_with(kField)) return std::nullopt;
    std::size_t i = kField.size();
    while (i < io.size() && io[i] == ' ')
        ++i;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(io.data() + i, io.data() + io.size(), value);
    if (error != std::errc() || end == io.data() + i) return std::nullopt;
    return value;
}

bool processExists(pid_t pid, const std::filesystem::path& procRoot) {
    std::error_code ignored;
    return std::filesystem::exists(procRoot / std::to_string(pid), ignored);
}

}  // namespace kestrel
