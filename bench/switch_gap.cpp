// The gap a switch leaves between the old slot's end and the new player's
// "Starting playback...", with the real headless station, real MPlayer (null
// audio output) and loopback ICY streams: one that bursts its first data,
// one paced at its bit rate from the first byte, one that answers its first
// byte after 4 s, and a refused port. Switches are asked for through the API
// (port 1011) in rounds of bursting, paced, late and refused, each followed
// by an unmeasured switch back to a bursting stream 6 s after the refused one.
// A negative gap is an overlap; the refused source's dead air runs from the
// old slot's end to the next source's first sound.
//
// Usage: bench_switch_gap [STATION] [BEFORE] [ROUNDS]
//   STATION  the station binary (default build/kestrelfield)
//   BEFORE   an older build's binary, measured the same way, side by side
//   ROUNDS   switches of each kind (default 20); about 25 s a round
// Binds port 1011 (run as root or with the capability); another station on
// this machine that starts up ends every player of the slot names.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/process_cleanup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kStreamTool = KESTREL_BINARY_DIR "/icy_test_stream";
constexpr const char* kKey = "k";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

pid_t startProcess(const std::vector<std::string>& argv, const fs::path& directory,
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

void endProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// A stream server on a free loopback port; its port is its first line of output.
struct Stream {
    Stream(const fs::path& dir, const std::string& name, std::vector<std::string> options,
           const std::string& mp3) {
        const fs::path out = dir / (name + ".port");
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
    std::string url() const { return "http://127.0.0.1:" + port + "/live"; }

    pid_t pid = -1;
    std::string port;
};

// One API request to the station; the body, empty when none came in `limit`.
std::string ask(const std::string& path, int limitSeconds) {
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
int slotOf(pid_t pid) {
    std::string argv0;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/cmdline"), argv0, '\0');
    const std::string name = fs::path(argv0).filename().string();
    return name == "mplayer1" ? 1 : name == "mplayer2" ? 2 : 0;
}

struct Outcome {
    std::optional<double> oldEnded;  ///< seconds after the request
    std::optional<double> newPlays;  ///< "Starting playback..." in the new slot's log
};

// Asks for `source` and watches the players until the answer has come,
// `watchSeconds` have passed and, when `untilPlaying`, the new player plays
// and the old one has ended (20 s at most).
Outcome switchTo(const fs::path& station, int source, double watchSeconds, bool untilPlaying) {
    std::vector<pid_t> oldPlayers = kestrel::test::playersIn(station);
    int oldSlot = 0;
    for (const pid_t pid : oldPlayers)
        oldSlot = std::max(oldSlot, slotOf(pid));
    const fs::path newLog = station / (oldSlot == 1 ? "mplayer2.log" : "mplayer1.log");
    std::atomic<bool> answered{false};
    const auto asked = Clock::now();
    std::thread request([&] {
        ask("/api/setcurrent.php?id=" + std::string(kKey) + std::to_string(source), 60);
        answered = true;
    });
    Outcome outcome;
    off_t seenSize = -1;
    const auto watched = [&] {
        const double seconds = secondsSince(asked);
        // The answer may overtake the old player's end by a few milliseconds.
        return answered && seconds >= watchSeconds &&
               (!untilPlaying || (outcome.newPlays && outcome.oldEnded) || seconds > 20);
    };
    while (!watched()) {
        if (!outcome.oldEnded && !oldPlayers.empty() &&
            std::none_of(oldPlayers.begin(), oldPlayers.end(), kestrel::test::stillRunning)) {
            outcome.oldEnded = secondsSince(asked);
        }
        struct stat info {};
        if (!outcome.newPlays && ::stat(newLog.c_str(), &info) == 0 && info.st_size != seenSize) {
            seenSize = info.st_size;
            if (readFile(newLog).find("Starting playback...") != std::string::npos) {
                outcome.newPlays = secondsSince(asked);
            }
        }
        if (secondsSince(asked) > 60) break;
        std::this_thread::sleep_for(5ms);
    }
    request.join();
    return outcome;
}

struct Figures {
    std::map<std::string, std::vector<double>> gaps;    // by kind
    std::map<std::string, std::vector<double>> starts;  // request to first sound, by kind
    std::vector<double> deadAir;                        // per refused switch
    int unmeasured = 0;                                 // switches a stranger's kill spoiled
};

Figures measure(const std::string& binary, int rounds, const std::string& mp3) {
    char pattern[] = "/tmp/kestrel-gap-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const fs::path station = dir / "station";
    fs::create_directories(station);
    std::ofstream(dir / "config") << "ao=null\nvo=null\n";
    Figures figures;
    {
        Stream burst(dir, "Burst", {}, mp3);
        Stream paced(dir, "Paced", {"--pace"}, mp3);
        Stream late(dir, "Late", {"--first-byte-after", "4"}, mp3);
        const std::string refused =
            "http://127.0.0.1:" + std::to_string(kestrel::test::freeLoopbackPort()) + "/live";
        std::ofstream(station / "kestrelfield.ini")
            << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n";
        std::ofstream(station / "sourcelist.ini")
            << "1n:Burst\r\n1u:" << burst.url() << "\r\n2n:Paced\r\n2u:" << paced.url()
            << "\r\n3n:Late\r\n3u:" << late.url() << "\r\n4n:Refused\r\n4u:" << refused
            << "\r\n5n:Back\r\n5u:" << burst.url() << "?back\r\n9n:Start\r\n9u:" << burst.url()
            << "?start\r\n";
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("MPLAYER_HOME", dir.c_str(), 1);
        const pid_t stationPid = startProcess({binary}, station, dir / "station.out");
        const auto started = Clock::now();
        while (
            secondsSince(started) < 20 &&
            (readFile(station / "mplayer1.log").find("Starting playback...") == std::string::npos ||
             ask("/api/getcurrent.php?id=" + std::string(kKey), 2).rfind("Source: 9", 0) != 0)) {
            std::this_thread::sleep_for(100ms);
        }
        const std::pair<const char*, int> kinds[] = {
            {"bursting", 1}, {"paced", 2}, {"first byte after 4 s", 3}};
        for (int round = 0; round < rounds; ++round) {
            for (const auto& [kind, source] : kinds) {
                const Outcome o = switchTo(station, source, 0.5, true);
                if (o.oldEnded && o.newPlays) {
                    figures.gaps[kind].push_back(*o.newPlays - *o.oldEnded);
                    figures.starts[kind].push_back(*o.newPlays);
                } else {
                    ++figures.unmeasured;
                }
            }
            const Outcome refusedTry = switchTo(station, 4, 6, false);
            const Outcome back = switchTo(station, 5, 0.5, true);
            if (refusedTry.oldEnded && back.newPlays) {
                figures.deadAir.push_back(6 - *refusedTry.oldEnded + *back.newPlays);
            } else if (!refusedTry.oldEnded) {
                figures.deadAir.push_back(0);
            } else {
                ++figures.unmeasured;
            }
        }
        endProcess(stationPid);
        kestrel::test::killPlayersIn(station);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return figures;
}

std::string summary(std::vector<double> values) {
    if (values.empty()) return "-";
    std::sort(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%+.2f s median (%+.2f..%+.2f, n=%zu)",
                  values[values.size() / 2], values.front(), values.back(), values.size());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string station = fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield");
    std::vector<std::pair<std::string, std::string>> binaries = {{"after", station}};
    if (argc > 2 && *argv[2]) binaries.emplace_back("before", fs::absolute(argv[2]));
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    const fs::path mp3 = KESTREL_BINARY_DIR "/test_stream.mp3";
    if (!fs::exists(mp3)) {
        const std::string make =
            KESTREL_SOURCE_DIR "/scripts/make_test_mp3 \"" + mp3.string() + "\" 6 >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) std::fprintf(stderr, "no test MP3: silence\n");
    }
    std::map<std::string, Figures> all;
    for (const auto& [label, binary] : binaries)
        all[label] = measure(binary, rounds, fs::exists(mp3) ? mp3.string() : "");
    const std::pair<const char*, const char*> targets[] = {
        {"bursting", "overlap <= 2.2 s, no gap: -2.2 .. 0 s"},
        {"paced", "no gap: <= 0 s"},
        {"first byte after 4 s", "no gap: <= 0 s"}};
    for (const auto& [kind, target] : targets) {
        for (const auto& [label, binary] : binaries) {
            std::printf("BENCH MPlayer start-up, %s stream, %s\t%s\t-\n", kind, label.c_str(),
                        summary(all[label].starts[kind]).c_str());
            std::printf("BENCH switch gap to a %s stream, %s\t%s\t%s\n", kind, label.c_str(),
                        summary(all[label].gaps[kind]).c_str(), target);
        }
    }
    for (const auto& [label, binary] : binaries) {
        std::printf("BENCH dead air per switch to a refused port, %s\t%s\t0 s\n", label.c_str(),
                    summary(all[label].deadAir).c_str());
        if (all[label].unmeasured > 0) {
            std::printf("BENCH switches not measured (a player ended by someone else), %s\t%d\t0\n",
                        label.c_str(), all[label].unmeasured);
        }
    }
    return 0;
}
