// Cost of one switch apart from its 2-second overlap and its fetches: the
// keyed lookup, the two commands, the log deletion, the display and the
// building of the ten status requests. Time is virtual (the pause costs
// nothing), the runner is the simulated process world and the fetcher
// answers at once, so what is measured is the procedure's own work.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "playback/orders.h"
#include "support/fake_station.h"

namespace {

using namespace kestrel;
using bench::cpuMillisecondsOf;
using bench::median;
using bench::millisecondsOf;

void measure(const char* label, bool report, int switches) {
    test::FakeStation station;
    std::string sources = "; the station's sources\r\n";
    for (int n = 0; n <= 9; ++n) {
        const std::string digit = std::to_string(n);
        sources += digit + "n:Source " + digit + "\r\n" + digit + "u:http://stream" + digit +
                   ".example:8000/live\r\n";
    }
    station.write("sourcelist.ini", sources);
    if (report) {
        station.state().ManagementUpdate = 1;
        station.state().ManagementSendURL = "http://management.example/status.php";
        station.state().ManagementKey = "key";
        station.state().ManagementSwitcher = "studio";
        station.statusReportFetcher.respond = [](const std::string&) {
            return test::FakeFetcher::ok("OK");
        };
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < switches; ++i) {
        station.display().comboSourceList.text = std::to_string(i % 10) + " Select Source";
        auto once = [&] { station.finish(cmdForceSwitch_Click(station.station)); };
        if (i % 2) {
            wall.push_back(millisecondsOf(once));
        } else {
            cpu.push_back(cpuMillisecondsOf(once));
        }
        station.players.clearIssued();
        station.managementFetcher.requests.clear();
    }
    std::printf("%-40s median %7.3f ms wall  %7.3f ms CPU  max %7.3f ms wall\n", label,
                median(wall), median(cpu), *std::max_element(wall.begin(), wall.end()));
    std::printf("BENCH %s, apart from pause and fetches\t%.3f ms median\twell under 5 ms\n", label,
                median(wall));
}

}  // namespace

int main() {
    std::printf("Switch procedure without its 2 s pause and fetches (target: well under 5 ms)\n");
    measure("switch, no management server", false, 2000);
    measure("switch with ten status requests", true, 2000);
    return 0;
}
