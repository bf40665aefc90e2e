// The real headless station among slow peers: every remote service (management
// download, change poll and status report, weather, TuneIn AIR, the stream
// servers' /testonline/) is a loopback server that answers after 20 s, or
// accepts and never answers until the 60 s time-out. Prints how late four
// scheduled switches start their players (two pairs 20 s apart, each pair
// across a minute's turn: two events in one clock minute never both fire),
// and how an API client asking four times a second is answered meanwhile.
// Then wrk -c50 against getcurrent while the player on air is killed and
// restarted.
//
// Usage: bench_slow_services [STATION] [BEFORE] [wrk]
//   STATION  the station binary (default build/kestrelfield)
//   BEFORE   an older build's binary, measured the same way, side by side
//   wrk      only the last figure (about two minutes)
// Runs about twelve minutes with both binaries; binds port 1011 (run as root
// or with the capability) and needs wrk for the last figure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/process_cleanup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kApiPort = 1011;
using kestrel::bench::kKey;

double wallNow() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 128);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Every service on one port: it answers each request after `delay` seconds
// (the schedule for a download, "OK" for anything else), or never when black-holed.
class SlowPeer {
public:
    SlowPeer(double delaySeconds, bool blackHole, std::string schedule)
        : m_delay(delaySeconds), m_blackHole(blackHole), m_schedule(std::move(schedule)) {
        m_listener = listenOnLoopback(port);
        m_thread = std::thread([this] { acceptAll(); });
    }
    ~SlowPeer() {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
        for (auto& worker : m_workers)
            worker.join();
    }
    int port = 0;

private:
    void acceptAll() {
        for (;;) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0) return;
            m_workers.emplace_back([this, client] { serve(client); });
        }
    }
    void serve(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const auto got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        const auto until =
            Clock::now() + std::chrono::duration<double>(m_blackHole ? 1e6 : m_delay);
        while (!m_stop && Clock::now() < until)
            std::this_thread::sleep_for(50ms);
        if (!m_stop) {
            const bool download = request.find("/get.php") != std::string::npos;
            const std::string body = download ? m_schedule : "OK";
            const std::string answer =
                "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body;
            ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        ::close(client);
    }

    double m_delay;
    bool m_blackHole;
    std::string m_schedule;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::thread> m_workers;
};

// One GET on its own connection; the latency in ms, or nothing when it failed
// or took longer than `limitSeconds`.
std::optional<double> askOnce(const std::string& path, int limitSeconds) {
    const auto start = Clock::now();
    const std::string answer = kestrel::bench::ask(path, limitSeconds);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!answer.starts_with("Source: ") || ms > limitSeconds * 1000.0) return {};
    return ms;
}

struct Station {
    fs::path dir;
    pid_t pid = -1;
};

// The players are scripts that note when and with what they start, then idle
// under the slot's name, so the station's process checks and kills find them.
void writePlayers(const fs::path& dir) {
    for (int slot : {1, 2}) {
        const fs::path script = dir / ("mplayer" + std::to_string(slot));
        std::ofstream(script) << "#!/bin/bash\necho \"$(date +%s.%N) $1\" >> '"
                              << (dir / "starts").string() << "'\necho 'Starting playback...'\n"
                              << "exec -a mplayer" << slot << " sleep 100000\n";
        fs::permissions(script, fs::perms::owner_all);
    }
}

Station startStation(const std::string& binary, const std::string& config,
                     const std::string& sources, const std::string& schedule,
                     const std::string& proxy) {
    char pattern[] = "/tmp/kestrel-slow-XXXXXX";
    Station station{::mkdtemp(pattern)};
    std::ofstream(station.dir / "kestrelfield.ini") << config;
    std::ofstream(station.dir / "sourcelist.ini") << sources;
    std::ofstream(station.dir / "sourceevents.ini") << schedule;
    writePlayers(station.dir);
    station.pid = ::fork();
    if (station.pid == 0) {
        fs::current_path(station.dir);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!proxy.empty()) ::setenv("http_proxy", proxy.c_str(), 1);
        ::setenv("no_proxy", "127.0.0.1,localhost", 1);
        std::freopen("/dev/null", "w", stderr);
        ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return station;
}

void stopStation(Station& station) {
    if (station.pid > 0) {
        ::kill(station.pid, SIGKILL);
        ::waitpid(station.pid, nullptr, 0);
    }
    kestrel::test::killPlayersIn(station.dir);
    std::error_code ignored;
    fs::remove_all(station.dir, ignored);
}

std::string eventLine(double when, int source) {
    const std::time_t seconds = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char line[64];
    std::snprintf(line, sizeof line, "%d %02d%02d%02d %d", local.tm_wday + 1, local.tm_hour,
                  local.tm_min, local.tm_sec, source);
    return line;
}

std::string percentile(std::vector<double> values, double p) {
    if (values.empty()) return "-";
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", values[at]);
    return text;
}

// Four events 20 s apart among peers that answer after `delay` s (or never).
void eventsAmongSlowPeers(const std::string& label, const std::string& binary, double delay,
                          bool blackHole) {
    // The first event at the 45th second of a minute at least 30 s away.
    double firstEvent = std::ceil(wallNow()) + 30;
    while (static_cast<long>(firstEvent) % 60 != 45)
        firstEvent += 1;
    std::string schedule;
    std::vector<std::pair<double, int>> events;
    for (const double offset : {0, 20, 120, 140}) {
        const int source = static_cast<int>(events.size()) + 1;
        events.emplace_back(firstEvent + offset, source);
        schedule += eventLine(firstEvent + offset, source) + "\r\n";
    }
    SlowPeer peer(delay, blackHole, schedule);
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.port);
    std::string sources;
    for (int n = 0; n <= 9; ++n) {
        sources += std::to_string(n) + "n:Source " + std::to_string(n) + "\r\n" +
                   std::to_string(n) + "u:" + base + "/stream" + std::to_string(n) + "\r\n";
    }
    const std::string config =
        "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" + std::string(kKey) +
        "\r\nDefaultStrapline=Slow\r\nManagementUpdate=1\r\nManagementURL=" + base +
        "/get.php\r\nManagementSendURL=" + base + "/status.php\r\nManagementKey=k\r\n" +
        "ManagementSwitcher=bench\r\nCheckForChanges=1\r\nCheckForChangeURL=" + base +
        "/changes.php\r\nAIRenable=1\r\nAIRid=s1\r\nMetaWeather=1\r\nMetaLocation=Leeds\r\n" +
        "CheckSource=1\r\n";
    Station station = startStation(binary, config, sources, schedule, base);
    for (int i = 0; i < 50 && !askOnce("/api/getcurrent.php?id=" + std::string(kKey), 1); ++i)
        std::this_thread::sleep_for(100ms);  // measured from when the API listens

    std::mutex mutex;
    std::vector<double> latencies;
    int asked = 0;
    std::vector<std::thread> clients;
    const double end = events.back().first + 30;
    while (wallNow() < end) {
        ++asked;
        clients.emplace_back([&] {
            const auto ms = askOnce("/api/getcurrent.php?id=" + std::string(kKey), 65);
            std::lock_guard lock(mutex);
            if (ms) latencies.push_back(*ms);
        });
        std::this_thread::sleep_for(250ms);
    }
    // Requests still hanging have failed; ending the station ends them.
    std::ifstream startsFile(station.dir / "starts");
    std::vector<std::pair<double, std::string>> starts;
    for (std::string line; std::getline(startsFile, line);) {
        std::istringstream fields(line);
        double at = 0;
        std::string url;
        fields >> at >> url;
        starts.emplace_back(at, url);
    }
    stopStation(station);
    for (auto& client : clients)
        client.join();

    std::string lateness;
    for (const auto& [due, source] : events) {
        const std::string url = base + "/stream" + std::to_string(source);
        std::optional<double> late;
        for (const auto& [at, started] : starts) {
            if (started == url && at >= due - 0.5) {
                late = at - due;
                break;
            }
        }
        char text[48];
        if (late && *late <= 45) {
            std::snprintf(text, sizeof text, "%s%.2f s", lateness.empty() ? "" : ", ", *late);
        } else {
            std::snprintf(text, sizeof text, "%snot within 45 s", lateness.empty() ? "" : ", ");
        }
        lateness += text;
    }
    std::printf("BENCH %s: lateness of 4 scheduled events\t%s\t<= 1 s each\n", label.c_str(),
                lateness.c_str());
    const int failed = asked - static_cast<int>(latencies.size());
    std::printf(
        "BENCH %s: API at 4 req/s, p99 / max / failed\t%s / %s / %d of %d\t"
        "p99 < 100 ms, max < 500 ms, none failed\n",
        label.c_str(), percentile(latencies, 0.99).c_str(), percentile(latencies, 1.0).c_str(),
        failed, asked);
    std::fflush(stdout);
}

// wrk -c50's p99 and max for getcurrent over `seconds`, as "p99 (max M)".
// A two-second hold-up delays only the one request of each connection that
// was waiting, so it shows in the max long before it reaches the p99.
std::string wrkLatency(int seconds) {
    // wrk leaves a request slower than its time-out (2 s by default) out of
    // the latencies, which would hide exactly the hold-up measured here.
    const std::string command = "wrk -c50 -t2 --timeout 10s -d" + std::to_string(seconds) +
                                "s --latency 'http://127.0.0.1:" + std::to_string(kApiPort) +
                                "/api/getcurrent.php?id=" + kKey + "' 2>&1";
    std::string output;
    if (FILE* wrk = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, wrk))
            output += buffer;
        ::pclose(wrk);
    }
    const auto p99At = output.find(" 99%");
    const auto statsAt = output.find("Latency");
    if (p99At == std::string::npos || statsAt == std::string::npos) return "wrk not found";
    std::string p99, average, deviation, max;
    std::istringstream(output.substr(p99At + 4)) >> p99;
    std::istringstream(output.substr(statsAt + 7)) >> average >> deviation >> max;
    return p99 + " (max " + max + ")";
}

// wrk -c50 against getcurrent, first on a quiet station, then while the
// player on air is killed twice and the watchdog restarts it (each restart
// is a switch with its overlap).
void apiUnderLoadDuringRestarts(const std::string& label, const std::string& binary) {
    const std::string sources = "9n:Nine\r\n9u:http://127.0.0.1:9/nine\r\n";
    const std::string config =
        "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" + std::string(kKey) + "\r\n";
    Station station = startStation(binary, config, sources, "", "");
    std::this_thread::sleep_for(4s);
    const std::string quiet = wrkLatency(10);
    std::thread killer([&] {
        for (int i = 0; i < 2; ++i) {
            std::this_thread::sleep_for(8s);
            for (const pid_t pid : kestrel::test::playersIn(station.dir))
                ::kill(pid, SIGKILL);
        }
    });
    const std::string restarting = wrkLatency(36);
    killer.join();
    const int restarts = [&] {
        std::ifstream log(station.dir / "error.log");
        int lines = 0;
        for (std::string line; std::getline(log, line);)
            lines += line.rfind("RESTART ", 0) == 0;
        return lines;
    }();
    stopStation(station);
    std::printf(
        "BENCH %s: wrk -c50 getcurrent p99 (max), quiet / with %d player restarts\t%s / %s\t"
        "p99 < 20 ms\n",
        label.c_str(), restarts, quiet.c_str(), restarting.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // Absolute: each station runs in a directory of its own.
    const std::string station = fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield");
    std::vector<std::pair<std::string, std::string>> binaries = {{"after", station}};
    if (argc > 2) binaries.emplace_back("before", fs::absolute(argv[2]));
    const bool wrkOnly = argc > 3 && std::string(argv[3]) == "wrk";
    if (!wrkOnly) {
        for (const auto& [name, binary] : binaries)
            eventsAmongSlowPeers("services answer after 20 s, " + name, binary, 20, false);
        for (const auto& [name, binary] : binaries)
            eventsAmongSlowPeers("services black-holed to the 60 s time-out, " + name, binary, 0,
                                 true);
    }
    for (const auto& [name, binary] : binaries)
        apiUnderLoadDuringRestarts(name, binary);
    return 0;
}
