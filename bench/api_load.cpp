// Load on the API server: N concurrent clients, each making one request per
// connection as real clients do (connect, send, read until the server
// closes), alternating the current-source and the source-list requests, for
// T seconds. The server is the real API listener in this process's main thread,
// over a station with a ten-entry source list. With "status", the N clients
// ask for status.json while one more client asks for the current source.
// Usage: bench_api_load [clients=50] [seconds=5] [both|getcurrent|listsources|status]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "controller/station_controller.h"
#include "platform/curl_fetcher.h"
#include "platform/posix_command_runner.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"
#include "host/api_server.h"
#include "host/qt_event_loop.h"

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

// One exchange; the latency in ms, or a negative value when it failed.
double exchange(quint16 port, const std::string& request, const std::string& expectedStart) {
    const auto start = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(request.size());
    std::string received;
    char buffer[4096];
    while (ok) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) break;
        if (n < 0) ok = false;
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok || !received.starts_with(expectedStart)) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
    kestrel::ProcProcessTable processes;
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
