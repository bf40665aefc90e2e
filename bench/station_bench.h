// Pieces of the benchmarks that run the real headless station with real
// MPlayer (null audio output) on loopback ICY streams. The station binds
// port 1011 and ends every player of the slot names when it starts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/process_cleanup.h"

namespace kestrel::bench {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

inline const fs::path kStreamTool = KESTREL_BINARY_DIR "/icy_test_stream";
inline constexpr const char* kKey = "k";

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline pid_t startProcess(const std::vector<std::string>& argv, const fs::path& directory,
                          const fs::path& output) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        fs::current_path(directory);
        std::freopen(output.c_str(), "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

inline void endProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// A stream server on a free loopback port; its port is its first line of output.
struct Stream {
    Stream(const fs::path& dir, const std::string& name, std::vector<std::string> options,
           const std::string& mp3)
        : name(name) {
        using namespace std::chrono_literals;
        output = dir / (name + ".port");
        const fs::path& out = output;
        std::vector<std::string> argv = {kStreamTool.string(), "--port", "0", "--name", name};
        argv.insert(argv.end(), options.begin(), options.end());
        if (!mp3.empty()) argv.insert(argv.end(), {"--mp3", mp3});
        pid = startProcess(argv, dir, out);
        for (int i = 0; i < 200 && port.empty(); ++i) {
            std::this_thread::sleep_for(20ms);
            const std::string text = readFile(out);
            if (text.find('\n') != std::string::npos) port = text.substr(0, text.find('\n'));
        }
    }
    ~Stream() { endProcess(pid); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    std::string url() const { return "http://127.0.0.1:" + port + "/live"; }

    std::string name;
    pid_t pid = -1;
    std::string port;
    fs::path output;  ///< the port, then a line per health test
};

// The whole lines a player's log gained since the last look; a log that was
// deleted, recreated or emptied is read from its start.
class LogTail {
public:
    explicit LogTail(fs::path file) : m_file(std::move(file)) { next(); }

    std::string next() {
        struct stat info {};
        if (::stat(m_file.c_str(), &info) != 0) {
            m_inode = 0;
            m_offset = 0;
            return {};
        }
        if (info.st_ino != m_inode || info.st_size < m_offset) {
            m_inode = info.st_ino;
            m_offset = 0;
        }
        if (info.st_size == m_offset) return {};
        std::string text = readFile(m_file).substr(static_cast<std::size_t>(m_offset));
        text.resize(text.rfind('\n') + 1);  // npos + 1: no whole line yet
        m_offset += static_cast<off_t>(text.size());
        return text;
    }

private:
    fs::path m_file;
    ino_t m_inode = 0;
    off_t m_offset = 0;
};

inline bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// One API request to the station; the body, empty when none came in `limit`.
inline std::string ask(const std::string& path, int limitSeconds) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{limitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(1011);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[2048];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    const auto body = answer.find("\r\n\r\n");
    return body == std::string::npos ? "" : answer.substr(body + 4);
}

// The slot (1 or 2) a player process runs under; 0 when it is none of them.
inline int slotOf(pid_t pid) {
    std::string argv0;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/cmdline"), argv0, '\0');
    const std::string name = fs::path(argv0).filename().string();
    return name == "mplayer1" ? 1 : name == "mplayer2" ? 2 : 0;
}

inline fs::path slotLog(const fs::path& station, int slot) {
    return station / ("mplayer" + std::to_string(slot) + ".log");
}

// A scratch directory with the players' configuration (null audio and video
// output) and a station directory in it; removed at the end.
struct BenchDir {
    explicit BenchDir(const std::string& name) {
        std::string pattern = "/tmp/kestrel-" + name + "-XXXXXX";
        path = ::mkdtemp(pattern.data());
        station = path / "station";
        fs::create_directories(station);
        std::ofstream(path / "config") << "ao=null\nvo=null\n";
    }
    ~BenchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;

    fs::path path;
    fs::path station;
};

// The station `binary` in `dir`'s station directory, whose configuration is
// written already; started playing source 9 in slot 1 (20 s at most), and at
// the end stopped with every player it started.
struct Station {
    Station(const std::string& binary, const BenchDir& dir) : directory(dir.station) {
        using namespace std::chrono_literals;
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("MPLAYER_HOME", dir.path.c_str(), 1);
        pid = startProcess({binary}, directory, dir.path / "station.out");
        const auto started = Clock::now();
        while (secondsSince(started) < 20 &&
               (readFile(slotLog(directory, 1)).find("Starting playback...") == std::string::npos ||
                ask("/api/getcurrent.php?id=" + std::string(kKey), 2).rfind("Source: 9", 0) != 0)) {
            std::this_thread::sleep_for(100ms);
        }
    }
    ~Station() {
        endProcess(pid);
        kestrel::test::killPlayersIn(directory);
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    fs::path directory;
    pid_t pid = -1;
};

// The test MP3 (made once per build tree); empty, for the streams' built-in
// silence, when it cannot be made.
inline std::string testMp3() {
    const fs::path mp3 = KESTREL_BINARY_DIR "/test_stream.mp3";
    if (!fs::exists(mp3)) {
        const std::string make =
            KESTREL_SOURCE_DIR "/scripts/make_test_mp3 \"" + mp3.string() + "\" 6 >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) std::fprintf(stderr, "no test MP3: silence\n");
    }
    return fs::exists(mp3) ? mp3.string() : "";
}

// The figures `measure(binary, rounds, mp3)` gives for the binaries named by
// [STATION] [BEFORE] (labelled "after" and "before") with [ROUNDS] (default
// `rounds`) and the test MP3, in that order.
template <typename Measure>
auto measureAll(int argc, char** argv, int rounds, Measure measure) {
    std::vector<std::pair<std::string, std::string>> binaries = {
        {"after", fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield")}};
    if (argc > 2 && *argv[2]) binaries.emplace_back("before", fs::absolute(argv[2]));
    if (argc > 3) rounds = std::max(1, std::atoi(argv[3]));
    const std::string mp3 = testMp3();
    std::vector<std::pair<std::string, decltype(measure("", rounds, mp3))>> all;
    for (const auto& [label, binary] : binaries)
        all.emplace_back(label, measure(binary, rounds, mp3));
    return all;
}

inline std::string summary(std::vector<double> values) {
    if (values.empty()) return "-";
    std::sort(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%+.2f s median (%+.2f..%+.2f, n=%zu)",
                  values[values.size() / 2], values.front(), values.back(), values.size());
    return text;
}

}  // namespace kestrel::bench
