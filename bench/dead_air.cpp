// Dead air after a fault on the on-air source, with the real headless
// station, real MPlayer (null audio output) and a loopback ICY stream: the
// on-air player killed (from the kill), the stream stalled (from the player's
// "Cache empty" line) and the server closing the connection (from the
// player's "Cache empty" line or its end, whichever comes first), each until
// the next "Starting playback..." of a new player in either slot, and the
// error.log lines each fault adds. MPlayer writes "Cache empty" to stderr: in
// a log without it, a stall is timed from the fault, and such faults are
// counted. Faults follow each other 16 s after a recovery, as the station
// restarts a source at most once per 15 s.
//
// Usage: bench_dead_air [STATION] [BEFORE] [ROUNDS]
//   STATION  the station binary (default build/kestrelfield)
//   BEFORE   an older build's binary, measured the same way, side by side
//   ROUNDS   faults of each kind (default 5); about a minute a round, up to
//            four when faults are not recovered
// Binds port 1011 (run as root or with the capability); another station on
// this machine that starts up ends every player of the slot names.
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/process_cleanup.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;

constexpr double kGiveUpSeconds = 60;  // a fault not recovered by then counts as such
constexpr auto kSettle = 16s;

enum class Fault { killed, stalled, closed };

struct Kind {
    Fault fault;
    const char* name;
    const char* goal;
};

const Kind kKinds[] = {{Fault::killed, "player killed", "goal <= 2.5 s"},
                       {Fault::stalled, "stream stalled", "goal <= 5 s + start"},
                       {Fault::closed, "server closes the connection", "-"}};

int errorLines(const fs::path& station) {
    const std::string text = readFile(station / "error.log");
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The on-air slot once its players are of one slot and its log shows
// playback (30 s at most); 0 when that does not come.
int onAirSlot(const fs::path& station) {
    const auto waited = Clock::now();
    while (secondsSince(waited) < 30) {
        std::array<int, 3> players{};
        for (const pid_t pid : kestrel::test::playersIn(station))
            ++players[static_cast<std::size_t>(slotOf(pid))];
        const int slot = players[1] > 0 ? 1 : 2;
        if (players[0] == 0 && (players[1] == 0) != (players[2] == 0) &&
            contains(readFile(slotLog(station, slot)), "Starting playback...")) {
            return slot;
        }
        std::this_thread::sleep_for(100ms);
    }
    return 0;
}

// Makes `fault` happen to the players of `slot`; the seconds from its first
// silence to a new player's "Starting playback...", none within 60 s. Without
// a sign of the silence (`signSeen` false) they count from the fault.
std::optional<double> deadAir(Fault fault, const fs::path& station, int slot, pid_t stream,
                              bool& signSeen) {
    const auto players = kestrel::test::playersIn(station);
    LogTail onAir(slotLog(station, slot));
    LogTail other(slotLog(station, 3 - slot));
    const auto faulted = Clock::now();
    std::optional<Clock::time_point> silent;
    if (fault == Fault::killed) {
        for (const pid_t pid : players)
            ::kill(pid, SIGKILL);
        silent = faulted;
    } else {
        ::kill(stream, fault == Fault::stalled ? SIGUSR1 : SIGUSR2);
    }
    while (secondsSince(faulted) < kGiveUpSeconds) {
        const std::string onAirLines = onAir.next();
        const bool ended =
            std::none_of(players.begin(), players.end(), kestrel::test::stillRunning);
        if (!silent && (contains(onAirLines, "Cache empty") || (fault == Fault::closed && ended)))
            silent = Clock::now();
        if (contains(onAirLines + other.next(), "Starting playback...")) {
            signSeen = silent.has_value();
            return secondsSince(silent.value_or(faulted));
        }
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

struct Figures {
    std::map<Fault, std::vector<double>> deadAir;
    std::map<Fault, int> mostErrorLines;
    std::map<Fault, int> notRecovered;
    std::map<Fault, int> withoutSign;
    int unmeasured = 0;  // faults not made: the station was not playing
};

Figures measure(const std::string& binary, int rounds, const std::string& mp3) {
    const BenchDir dir("dead-air");
    Figures figures;
    Stream stream(dir.path, "Faulty", {}, mp3);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n";
    std::ofstream(dir.station / "sourcelist.ini") << "9n:Faulty\r\n9u:" << stream.url() << "\r\n";
    const Station running(binary, dir);
    for (int round = 0; round < rounds; ++round) {
        for (const Kind& kind : kKinds) {
            const int slot = onAirSlot(dir.station);
            if (slot == 0) {
                ++figures.unmeasured;
                continue;
            }
            const int errorsBefore = errorLines(dir.station);
            bool signSeen = true;
            const auto seconds = deadAir(kind.fault, dir.station, slot, stream.pid, signSeen);
            figures.withoutSign[kind.fault] += signSeen ? 0 : 1;
            if (seconds) {
                figures.deadAir[kind.fault].push_back(*seconds);
            } else {
                ++figures.notRecovered[kind.fault];
            }
            std::this_thread::sleep_for(kSettle);
            int& most = figures.mostErrorLines[kind.fault];
            most = std::max(most, errorLines(dir.station) - errorsBefore);
        }
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    auto all = measureAll(argc, argv, 5, measure);
    for (const Kind& kind : kKinds) {
        for (auto& [label, figures] : all) {
            std::printf("BENCH dead air, %s, %s\t%s\t%s\n", kind.name, label.c_str(),
                        summary(figures.deadAir[kind.fault]).c_str(), kind.goal);
            std::printf("BENCH faults not recovered within 60 s, %s, %s\t%d\t0\n", kind.name,
                        label.c_str(), figures.notRecovered[kind.fault]);
            std::printf("BENCH error.log lines per fault, %s, %s\t%d\t1\n", kind.name,
                        label.c_str(), figures.mostErrorLines[kind.fault]);
            if (figures.withoutSign[kind.fault] > 0) {
                std::printf(
                    "BENCH faults timed from the fault (no Cache empty line or end seen), "
                    "%s, %s\t%d\t0\n",
                    kind.name, label.c_str(), figures.withoutSign[kind.fault]);
            }
        }
    }
    for (const auto& [label, figures] : all) {
        if (figures.unmeasured > 0) {
            std::printf("BENCH faults not made (the station was not playing), %s\t%d\t0\n",
                        label.c_str(), figures.unmeasured);
        }
    }
    return 0;
}
