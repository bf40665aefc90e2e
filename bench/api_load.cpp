// Load on the API server: N concurrent clients, each making one request per
// connection as real clients do (connect, send, read until the server
// closes), alternating the current-source and the source-list requests, for
// T seconds. The server is the real API listener in this process's main thread,
// over a station with a ten-entry source list. With "status", the N clients
// ask for status.json while one more client asks for the current source.
// With "flood", one client asks for the current source, again until it is
// answered, while others hold idle connections: 1,000 from its own address
// (opened 500 a second, each reopened once the server closes it), 300 from
// 20 other addresses, and two send 1 MB without a line end, over and over.
// With "exact", each of N clients makes R requests for the current source one
// after another, each on a fresh connection, and the answers that are
// byte for byte right are counted (R in place of the seconds).
// The flood runs at the lowest priority, as if from other machines; with
// "flood-equal" at the server's own.
// Usage: bench_api_load [clients=50] [seconds=5]
//        [both|getcurrent|listsources|status|flood|flood-equal|exact]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/api_request.h"
#include "controller/station_controller.h"
#include "host/api_server.h"
#include "host/qt_event_loop.h"
#include "platform/curl_fetcher.h"
#include "platform/posix_command_runner.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kKey = "benchkey";

struct Sample {
    std::vector<double> latenciesMs;
    long failures = 0;
};

struct ClientResult {
    Sample current;
    Sample list;
};

// A TCP socket bound to the loopback address 127.0.0.`host`, so that the
// server sees it as that client; -1 when none can be made.
int socketFrom(int host, bool nonBlocking = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + static_cast<in_addr_t>(host));
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

sockaddr_in serverAddress(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// How one exchange ended: read to the server's close (FIN), reset, or
// neither within 5 s.
enum class Ending { Closed, Reset, Failed };

// One exchange on a new connection: what came back until the server closed.
Ending exchangeBytes(quint16 port, const std::string& request, std::string& received) {
    const int fd = socketFrom(1);
    if (fd < 0) return Ending::Failed;
    sockaddr_in address = serverAddress(port);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    Ending ending = Ending::Failed;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (;;) {
            const auto n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            ending = n == 0 ? Ending::Closed : errno == ECONNRESET ? Ending::Reset : Ending::Failed;
            break;
        }
    }
    ::close(fd);
    return ending;
}

// One exchange; the latency in ms, or a negative value when it failed.
double exchange(quint16 port, const std::string& request, const std::string& expectedStart) {
    const auto start = Clock::now();
    std::string received;
    if (exchangeBytes(port, request, received) != Ending::Closed ||
        !received.starts_with(expectedStart)) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// N clients, R requests each on fresh connections, one after another; counts
// the answers that are exactly right and how the others went wrong.
int runExact(QApplication& app, quint16 port, int clients, int requests,
             const std::string& expected) {
    const std::string request =
        "GET /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\nHost: b\r\n\r\n";
    std::atomic<long> exact = 0, wrong = 0, empty = 0, reset = 0, failed = 0;
    std::atomic<int> running = clients;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            for (int r = 0; r < requests; ++r) {
                std::string received;
                const Ending ending = exchangeBytes(port, request, received);
                if (ending == Ending::Reset) {
                    ++reset;
                } else if (ending == Ending::Failed) {
                    ++failed;
                } else if (received == expected) {
                    ++exact;
                } else {
                    ++(received.empty() ? empty : wrong);
                }
            }
            --running;
        });
    }
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (running == 0) app.quit();
    });
    finished.start(20);
    app.exec();
    for (auto& thread : threads)
        thread.join();
    std::printf(
        "getcurrent, %d clients x %d requests on fresh connections from one address: %ld exact, "
        "%ld wrong, %ld closed without an answer, %ld reset, %ld failed otherwise\n",
        clients, requests, exact.load(), wrong.load(), empty.load(), reset.load(), failed.load());
    std::printf("BENCH API %d x %d fresh-connection requests, exact answers\t%ld of %d\tall\n",
                clients, requests, exact.load(), clients * requests);
    return 0;
}

enum class Mix { Both, CurrentOnly, ListOnly, Status };

void runClient(quint16 port, Clock::time_point end, int offset, Mix mix, ClientResult& result) {
    const std::string current =
        "GET /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\nHost: b\r\n\r\n";
    // The status load is counted where the list load is.
    const std::string list = std::string("GET /api/") +
                             (mix == Mix::Status ? "status.json" : "listsources.php") +
                             "?id=" + kKey + " HTTP/1.1\r\nHost: b\r\n\r\n";
    const std::string header = "HTTP/1.0 200 OK\r\n";
    for (long n = offset; Clock::now() < end; ++n) {
        const bool asksList = mix == Mix::Both ? n % 2 == 1 : mix != Mix::CurrentOnly;
        Sample& sample = asksList ? result.list : result.current;
        const double ms = exchange(port, asksList ? list : current,
                                   header + "Server: Fernbeacon Server Version 1.1\r\n");
        if (ms < 0) {
            ++sample.failures;
        } else {
            sample.latenciesMs.push_back(ms);
        }
    }
}

// CPU seconds the calling thread has used.
double threadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
}

// Holds `count` idle connections from 127.0.0.`firstHost` onwards,
// `perHost` from each address, opening one every `paceMs` at most and
// reopening each one the server closes, until `end`.
void holdIdle(quint16 port, int firstHost, int count, int perHost, double paceMs,
              Clock::time_point end, std::atomic<long>& closedByServer) {
    const sockaddr_in address = serverAddress(port);
    std::vector<pollfd> held(static_cast<std::size_t>(count), pollfd{-1, POLLIN, 0});
    auto nextOpen = Clock::now();
    const auto pace = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(paceMs));
    while (Clock::now() < end) {
        for (std::size_t i = 0; i < held.size() && Clock::now() >= nextOpen; ++i) {
            if (held[i].fd >= 0) continue;
            held[i].fd = socketFrom(firstHost + static_cast<int>(i) / perHost, true);
            if (held[i].fd >= 0)
                ::connect(held[i].fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            nextOpen += pace;
        }
        ::poll(held.data(), held.size(), 5);
        for (auto& entry : held) {
            if (entry.fd < 0 || entry.revents == 0) continue;
            char buffer[256];
            if (::recv(entry.fd, buffer, sizeof buffer, 0) > 0) continue;
            ::close(entry.fd);
            entry.fd = -1;
            ++closedByServer;
        }
    }
    for (const auto& entry : held) {
        if (entry.fd >= 0) ::close(entry.fd);
    }
}

// Sends 1 MB that never ends its line, on a new connection each time, until `end`.
void sendEndlessLines(quint16 port, Clock::time_point end) {
    const std::string data = "GET /" + std::string(1 << 20, 'a');
    const sockaddr_in address = serverAddress(port);
    while (Clock::now() < end) {
        const int fd = socketFrom(1);
        timeval timeout{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        ::close(fd);
    }
}

// The valid client under the flood: asks for the current source every 100 ms,
// again at once until answered; prints how long each took to be answered.
int runFlood(QApplication& app, quint16 port, double seconds, bool floodLowest) {
    constexpr double kRampSeconds = 3;
    std::atomic<long> closedOwn = 0;
    std::atomic<long> closedOthers = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(kRampSeconds + seconds));
    std::vector<std::thread> threads;
    // The flood runs at the lowest priority, as if from other machines: on
    // two cores its busy threads would otherwise starve the server they attack.
    const auto lowest = [floodLowest] {
        if (floodLowest) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    };
    threads.emplace_back([&] { lowest(), holdIdle(port, 1, 1000, 1000, 2, end, closedOwn); });
    threads.emplace_back([&] { lowest(), holdIdle(port, 2, 300, 15, 2, end, closedOthers); });
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] { lowest(), sendEndlessLines(port, end); });

    std::vector<double> answeredMs;
    long attempts = 0;
    long unanswered = 0;
    double unansweredMs = 0;  // how long the last request waited in vain
    std::atomic<bool> measured = false;
    threads.emplace_back([&] {
        const std::string request =
            "GET /api/getcurrent.php?id=" + kKey + " HTTP/1.1\r\nHost: b\r\n\r\n";
        std::this_thread::sleep_for(std::chrono::duration<double>(kRampSeconds));
        while (Clock::now() < end) {
            const auto asked = Clock::now();
            bool answered = false;
            while (!answered && Clock::now() < end) {
                ++attempts;
                answered = exchange(port, request, "HTTP/1.0 200 OK\r\n") >= 0;
            }
            if (!answered) {
                ++unanswered;
                unansweredMs =
                    std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
                break;
            }
            answeredMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        measured = true;
    });
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (measured && Clock::now() >= end) app.quit();
    });
    finished.start(20);
    // The server's loop: a tick every 5 ms; a long gap between two is a stall,
    // on the CPU (a handler) or off it (the thread waited or was not scheduled).
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto lastTick = Clock::now();
    double lastCpu = threadCpuSeconds();
    double longestGapMs = 0, longestGapCpuMs = 0;
    long stalls = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto time = Clock::now();
        const double cpu = threadCpuSeconds();
        const double gapMs = std::chrono::duration<double, std::milli>(time - lastTick).count();
        if (gapMs > 50) ++stalls;
        if (gapMs > longestGapMs) {
            longestGapMs = gapMs;
            longestGapCpuMs = (cpu - lastCpu) * 1000;
        }
        lastTick = time;
        lastCpu = cpu;
    });
    tick.start(5);
    const double serverCpuBefore = threadCpuSeconds();
    app.exec();
    const double serverBusy = (threadCpuSeconds() - serverCpuBefore) / (kRampSeconds + seconds);
    for (auto& thread : threads)
        thread.join();

    const double answered = static_cast<double>(answeredMs.size());
    const double p50 = percentile(answeredMs, 0.50);
    const double p99 = percentile(answeredMs, 0.99);
    const double max =
        answeredMs.empty() ? 0 : *std::max_element(answeredMs.begin(), answeredMs.end());
    std::printf(
        "API flood: %.0f s after %.0f s of ramp; idle connections closed by the server: "
        "%ld from the client's address, %ld from others; server thread %.0f%% busy\n",
        seconds, kRampSeconds, closedOwn.load(), closedOthers.load(), 100 * serverBusy);
    std::printf(
        "server loop: longest gap between its 5 ms ticks %.1f ms (%.1f ms of it on the CPU); "
        "%ld gaps over 50 ms\n",
        longestGapMs, longestGapCpuMs, stalls);
    std::printf(
        "getcurrent under flood: answered %.0f, %ld attempts; time to answer p50 %.2f ms  "
        "p99 %.2f ms  max %.2f ms; unanswered at the end %ld (after %.2f ms)\n",
        answered, attempts, p50, p99, max, unanswered, unansweredMs);
    std::printf(
        "BENCH API getcurrent under idle-connection flood\tmax %.2f ms%s\t"
        "every one within 100 ms\n",
        std::max(max, unansweredMs), unanswered > 0 ? ", one still unanswered" : "");
    return 0;
}

void print(const char* name, std::vector<Sample*> samples, double seconds,
           const char* target = "at 50 clients both: 5,000 req/s, p99 under 20 ms") {
    std::vector<double> all;
    long failures = 0;
    for (Sample* sample : samples) {
        all.insert(all.end(), sample->latenciesMs.begin(), sample->latenciesMs.end());
        failures += sample->failures;
    }
    const double count = static_cast<double>(all.size());
    const double p50 = percentile(all, 0.50);
    const double p99 = percentile(all, 0.99);
    const double max = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    std::printf("%-12s %9.0f req/s  p50 %6.2f ms  p99 %6.2f ms  max %7.2f ms  failed %ld\n", name,
                count / seconds, p50, p99, max, failures);
    std::printf("BENCH API %s (default 50 clients)\t%.0f req/s, p99 %.2f ms\t%s\n", name,
                count / seconds, p99, target);
}

}  // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const double seconds = argc > 2 ? std::max(0.5, std::atof(argv[2])) : 5.0;
    const std::string mixName = argc > 3 ? argv[3] : "both";
    const Mix mix = mixName == "getcurrent"    ? Mix::CurrentOnly
                    : mixName == "listsources" ? Mix::ListOnly
                    : mixName == "status"      ? Mix::Status
                                               : Mix::Both;

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    char pattern[] = "/tmp/kestrel-api-load-XXXXXX";
    const std::filesystem::path workdir = ::mkdtemp(pattern);
    {
        std::ofstream sources(workdir / "sourcelist.ini", std::ios::binary);
        sources << "; bench sources\r\n";
        for (int d = 0; d <= 9; ++d) {
            sources << d << "n:Studio " << d << "\r\n"
                    << d << "u:http://stream" << d << ".example.org:8000/live\r\n";
        }
    }

    kestrel::SystemClock clock;
    kestrel::PosixCommandRunner runner(workdir);
    kestrel::ProcProcessTable processes(workdir);
    kestrel::QtEventLoop loop;
    kestrel::CurlMulti transfers(loop);
    kestrel::CurlFetcher inetAIR(transfers), inetWeather(transfers), inetTestURL(transfers),
        inet1(transfers), inetChanges(transfers), inetStatus(transfers);
    kestrel::StationController controller(kestrel::Platform{clock, runner, processes, loop, inetAIR,
                                                            inetWeather, inetTestURL, inet1,
                                                            inetChanges, inetStatus, workdir});
    auto& station = controller.station();
    station.state.APIkey = kKey;
    station.display.lblSourceNumber.caption = "3";
    station.display.lblCurrentSource.caption = "http://stream3.example.org:8000/live";
    station.display.lblStudio.caption = "Studio 3";

    // As on a headless station: the listener without a window.
    kestrel::ApiServer server(station, 0);
    const quint16 port = server.port();
    if (port == 0) {
        std::fprintf(stderr, "the API server could not listen\n");
        return 1;
    }
    if (mixName == "exact") {
        const std::string body =
            "Source: 3\r\nURL: http://stream3.example.org:8000/live\r\nName: Studio 3\r\n"
            "Volume: 100\r\n";
        const int requests = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
        const int result =
            runExact(app, port, clients, requests, kestrel::responseWithHeader(body));
        std::filesystem::remove_all(workdir);
        return result;
    }
    if (mixName == "flood" || mixName == "flood-equal") {
        const int result = runFlood(app, port, argc > 2 ? seconds : 15, mixName == "flood");
        std::filesystem::remove_all(workdir);
        return result;
    }

    // The status load has one more client: the one that asks for the current source.
    const int threadCount = mix == Mix::Status ? clients + 1 : clients;
    std::vector<ClientResult> results(static_cast<std::size_t>(threadCount));
    std::vector<std::thread> threads;
    std::atomic<int> running = threadCount;
    const double serverCpuBefore = threadCpuSeconds();
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int c = 0; c < threadCount; ++c) {
        const Mix clientMix = c == clients ? Mix::CurrentOnly : mix;
        threads.emplace_back([&, c, clientMix] {
            runClient(port, end, c, clientMix, results[static_cast<std::size_t>(c)]);
            --running;
        });
    }
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (running == 0) app.quit();
    });
    finished.start(20);
    app.exec();
    const double serverCpu = threadCpuSeconds() - serverCpuBefore;
    for (auto& thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<Sample*> current, list;
    for (auto& result : results) {
        current.push_back(&result.current);
        list.push_back(&result.list);
    }
    std::printf("API load: %d clients, %.1f s, one request per connection\n", clients, elapsed);
    if (mix == Mix::Status) {
        print("getcurrent beside status.json", current, elapsed, "p99 under 20 ms");
        print("status.json", list, elapsed, "-");
    }
    if (mix == Mix::Both || mix == Mix::CurrentOnly) print("getcurrent", current, elapsed);
    if (mix == Mix::Both || mix == Mix::ListOnly) print("listsources", list, elapsed);
    std::vector<Sample*> both = current;
    both.insert(both.end(), list.begin(), list.end());
    if (mix != Mix::Status) print("total", both, elapsed);
    long answered = 0;
    for (const Sample* sample : both)
        answered += static_cast<long>(sample->latenciesMs.size());
    if (answered > 0) {
        const double perRequestUs = serverCpu / static_cast<double>(answered) * 1e6;
        std::printf("server thread: %.0f%% busy, %.1f us CPU per request (%.0f req/s if alone)\n",
                    100 * serverCpu / elapsed, perRequestUs, 1e6 / perRequestUs);
        if (mix == Mix::Status) {
            std::printf("BENCH API status.json CPU per answer (50 clients)\t%.3f ms\tunder 2 ms\n",
                        perRequestUs / 1000);
        }
    }

    std::filesystem::remove_all(workdir);
    return 0;
}
