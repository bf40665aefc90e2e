// Cost of one run of the schedule calculation (tmrLoadEventsAndCalculate),
// which blocks the station every 10 seconds, on a schedule of 1,000 and of
// 200,000 lines. The file is warm in the page cache, as a file read every
// 10 seconds is.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "scheduler/event_calculation.h"
#include "station/time_format.h"
#include "support/fake_station.h"

namespace {

using namespace kestrel;
using bench::cpuMillisecondsOf;
using bench::median;
using bench::millisecondsOf;

// Events spread over the week with a comment now and then, CR LF ends.
std::string schedule(int lines) {
    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 12);
    for (int i = 0; i < lines; ++i) {
        if (i % 50 == 0) {
            text += "; block " + std::to_string(i / 50) + "\r\n";
            continue;
        }
        const int seconds = (i * 7919) % 86400;
        const int time = seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60;
        text += std::to_string(1 + i % 7) + " " + zeroPadded(time, 6) + " " +
                std::to_string(i % 10) + "\r\n";
    }
    return text;
}

void measure(int lines, int runs) {
    test::FakeStation station;
    station.clock.set(2026, 12, 9, 14, 7, 3);  // a Wednesday afternoon
    station.write(kScheduleFile, schedule(lines));
    tmrLoadEventsAndCalculate(station.station);  // warm the page cache
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        station.state().NextEvent = kNoEvent;
        wall.push_back(millisecondsOf([&] { tmrLoadEventsAndCalculate(station.station); }));
        station.state().NextEvent = kNoEvent;
        cpu.push_back(cpuMillisecondsOf([&] { tmrLoadEventsAndCalculate(station.station); }));
    }
    std::printf("%-28s %9d lines  median %8.3f ms wall  %8.3f ms CPU  max %8.3f ms wall\n",
                "schedule calculation", lines, median(wall), median(cpu),
                *std::max_element(wall.begin(), wall.end()));
    std::printf("BENCH schedule calculation, %d lines\t%.3f ms median\t%s\n", lines, median(wall),
                lines >= 200000 ? "well under 50 ms" : "-");
    std::printf("%-28s %s / %s\n", "  result", station.state().LastEvent.c_str(),
                station.state().NextEvent.c_str());
}

}  // namespace

int main() {
    std::printf("Schedule calculation, one run (target: well under 50 ms for 200,000 lines)\n");
    measure(1000, 200);
    measure(200000, 30);
    return 0;
}
