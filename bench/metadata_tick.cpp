// Cost of the metadata tick on a player log of 1 MB and of 200 MB: the first
// tick (the whole log is read) and the following ticks after 1 KB was
// appended (only the new bytes are read). The log is warm in the page cache,
// as a log the player has just written is.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "metadata/now_playing.h"
#include "metadata/player_log_reader.h"
#include "platform/posix_command_runner.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"
#include "station/station.h"
#include "support/fake_clock.h"
#include "support/fake_event_loop.h"
#include "support/fake_fetcher.h"

namespace {

using namespace kestrel;
using bench::cpuMillisecondsOf;
using bench::median;
using bench::millisecondsOf;

// MPlayer's console output: a header, then mostly CR-separated cache status
// segments with an ICY line now and then.
void writeLog(const std::filesystem::path& file, std::size_t bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "MPlayer UNKNOWN-12 (C) 2000-2023 MPlayer Team\n\nPlaying http://127.0.0.1:8000/.\n"
           "Name   : Bench Stream\nGenre  : Test\nWebsite: http://127.0.0.1/\nPublic : yes\n"
           "Bitrate: 128kbit/s\nCache size set to 320 KBytes\n";
    std::string block;
    for (int i = 0; block.size() < 64 * 1024; ++i) {
        block += "\rCache fill: " + std::to_string(i % 100) + ".00% (" + std::to_string(i * 977) +
                 " bytes)   ";
        if (i % 500 == 0) block += "\nICY Info: StreamTitle='Artist - Song';StreamUrl='';\n";
    }
    std::size_t written = 0;
    while (written < bytes) {
        const std::size_t n = std::min(block.size(), bytes - written);
        out.write(block.data(), static_cast<std::streamsize>(n));
        written += n;
    }
}

std::string appendix(int n) {
    std::string text =
        "\nICY Info: StreamTitle='Artist - Song " + std::to_string(n) + "';StreamUrl='';\n";
    while (text.size() < 1024)
        text += "\rCache fill: 100.00% (327680 bytes)   ";
    return text.substr(0, 1024);
}

void report(const std::string& figure, double value, const std::string& target) {
    std::printf("BENCH %s\t%.3f ms\t%s\n", figure.c_str(), value, target.c_str());
}

void measure(Station& station, std::size_t megabytes) {
    const auto log = station.file("mplayer1.log");
    writeLog(log, megabytes * 1024 * 1024);
    // Writing back the fresh log would otherwise hold up every file write measured.
    sync();
    const std::string size = std::to_string(megabytes) + " MB";

    NowPlaying nowPlaying(station);
    report("metadata tick, first read of a " + size + " log",
           millisecondsOf([&] { nowPlaying.tmrGetMetadata(); }), "-");

    // The log reading alone, without the two file replacements of the tick.
    PlayerLogReader reader;
    reader.update(log);

    std::vector<double> ticks;
    std::vector<double> tickCpu;
    std::vector<double> reads;
    for (int i = 0; i < 50; ++i) {
        std::ofstream(log, std::ios::binary | std::ios::app) << appendix(i);
        double wall = 0;
        tickCpu.push_back(cpuMillisecondsOf(
            [&] { wall = millisecondsOf([&] { nowPlaying.tmrGetMetadata(); }); }));
        ticks.push_back(wall);
        reads.push_back(millisecondsOf([&] { reader.update(log); }));
    }
    const std::string after = " after 1 KB appended, " + size + " log";
    report("metadata tick" + after + " (median)", median(ticks), "< 1 ms");
    report("metadata tick" + after + " (max of 50)", *std::max_element(ticks.begin(), ticks.end()),
           "< 1 ms");
    report("metadata tick" + after + ", CPU time (median)", median(tickCpu), "< 1 ms");
    report("log read alone" + after + " (median)", median(reads), "-");
    if (station.display.lblRXmetadata.caption != "Artist - Song 49") {
        std::printf("BENCH metadata tick title check\tFAILED\t-\n");
    }

    // The same log read whole, as a tick without a position would on every tick.
    NowPlaying fresh(station);
    report("metadata tick, full re-read of a " + size + " log",
           millisecondsOf([&] { fresh.tmrGetMetadata(); }), "-");
    std::filesystem::remove(log);
}

}  // namespace

int main() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const std::filesystem::path workdir = pattern;

    SystemClock clock;
    PosixCommandRunner runner(workdir);
    ProcProcessTable processes(workdir);
    // The metadata tick never waits: the fetchers are never asked.
    test::FakeClock unusedClock;
    test::FakeEventLoop loop{unusedClock};
    test::FakeFetcher unused;
    Station station(Platform{clock, runner, processes, loop, unused, unused, unused, unused, unused,
                             unused, workdir});
    station.state.CurrentMplayer = 1;
    station.state.DefaultStrapline = "Bench FM";
    station.state.ExtraMetaNowPlaying = "Now playing:";

    measure(station, 1);
    measure(station, 200);
    std::filesystem::remove_all(workdir);
    return 0;
}
