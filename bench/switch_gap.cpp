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
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/child_process.h"
#include "support/process_cleanup.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;

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
    const fs::path newLog = slotLog(station, oldSlot == 1 ? 2 : 1);
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
    const BenchDir dir("gap");
    const fs::path& station = dir.station;
    Figures figures;
    Stream burst(dir.path, "Burst", {}, mp3);
    Stream paced(dir.path, "Paced", {"--pace"}, mp3);
    Stream late(dir.path, "Late", {"--first-byte-after", "4"}, mp3);
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(kestrel::test::freeLoopbackPort()) + "/live";
    std::ofstream(station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n";
    std::ofstream(station / "sourcelist.ini")
        << "1n:Burst\r\n1u:" << burst.url() << "\r\n2n:Paced\r\n2u:" << paced.url()
        << "\r\n3n:Late\r\n3u:" << late.url() << "\r\n4n:Refused\r\n4u:" << refused
        << "\r\n5n:Back\r\n5u:" << burst.url() << "?back\r\n9n:Start\r\n9u:" << burst.url()
        << "?start\r\n";
    const Station running(binary, dir);
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
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    auto all = measureAll(argc, argv, 20, measure);
    const std::pair<const char*, const char*> targets[] = {
        {"bursting", "overlap <= 2.2 s, no gap: -2.2 .. 0 s"},
        {"paced", "no gap: <= 0 s"},
        {"first byte after 4 s", "no gap: <= 0 s"}};
    for (const auto& [kind, target] : targets) {
        for (auto& [label, figures] : all) {
            std::printf("BENCH MPlayer start-up, %s stream, %s\t%s\t-\n", kind, label.c_str(),
                        summary(figures.starts[kind]).c_str());
            std::printf("BENCH switch gap to a %s stream, %s\t%s\t%s\n", kind, label.c_str(),
                        summary(figures.gaps[kind]).c_str(), target);
        }
    }
    for (const auto& [label, figures] : all) {
        std::printf("BENCH dead air per switch to a refused port, %s\t%s\t0 s\n", label.c_str(),
                    summary(figures.deadAir).c_str());
        if (figures.unmeasured > 0) {
            std::printf("BENCH switches not measured (a player ended by someone else), %s\t%d\t0\n",
                        label.c_str(), figures.unmeasured);
        }
    }
    return 0;
}
