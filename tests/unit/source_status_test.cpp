#include "management/source_status.h"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/curl_fetcher.h"
#include "playback/orders.h"
#include "playback/reconciler.h"
#include "support/fake_clock.h"
#include "support/fake_event_loop.h"
#include "support/fake_fetcher.h"
#include "support/fake_players.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using test::FakeClock;
using test::FakeFetcher;
using test::FakePlayers;
using test::LoopbackServer;
using test::TempDir;

/// A station whose statusReportFetcher is a real HTTP client, reporting to a loopback server.
struct Reporter {
    Reporter() {
        dir.write("sourcelist.ini",
                  "; two sources\r\n1n:One FM\r\n1u:http://one.example:8000/a?x=1&y=2\r\n"
                  "2u:http://two.example:8000/b\r\n2n:Two=2&Co\r\n;3n:Hidden\r\nxn:Letter\r\n");
        server.http.Get("/status.php", [this](const httplib::Request& request,
                                              httplib::Response& response) {
            record(request.target);
            const bool refuse = request.target.find("&item=" + failingItem) != std::string::npos;
            response.status = refuse ? 500 : 200;
            response.set_content(refuse ? "error" : "OK", "text/plain");
        });
        // The test server refuses a query holding a second "?" before routing
        // it; a management server takes it, so it is recorded all the same.
        server.http.set_error_handler(httplib::Server::HandlerWithResponse(
            [this](const httplib::Request& request, httplib::Response& response) {
                if (response.status == 400) record(request.target);
                return httplib::Server::HandlerResponse::Unhandled;
            }));
        server.start();
        station.afterSwitch = startSourceStatusReport;
        auto& state = station.state;
        state.ManagementUpdate = 1;
        state.ManagementSendURL = server.url("/status.php");
        state.ManagementKey = "k3y";
        state.ManagementSwitcher = "studio1";
    }

    void record(const std::string& target) {
        std::lock_guard lock(mutex);
        received.push_back(target);
    }
    std::vector<std::string> targets() {
        std::lock_guard lock(mutex);
        return received;
    }
    /// Runs the event loop until the task and the report it started have ended.
    template <typename T>
    void finish(const Task<T>& task) {
        transfers.pumpUntil([&] { return task.done() && station.statusReport.done(); });
    }

    TempDir dir;
    FakeClock clock;
    FakePlayers players{dir.path()};
    test::FakeEventLoop loop{clock};
    FakeFetcher unused{&loop};
    test::LiveTransfers transfers;
    CurlFetcher inetStatus{transfers.multi, 5};
    Station station{Platform{clock, players, players, loop, unused, unused, unused, unused, unused,
                             inetStatus, dir.path()}};
    Reconciler reconciler{station};
    LoopbackServer server;
    std::string failingItem = "none";
    std::mutex mutex;
    std::vector<std::string> received;
};

std::vector<std::string> expectedTargets(int playing) {
    const std::string base = "/status.php?key=k3y&switcher=studio1&item=";
    const auto active = [&](int n) { return std::string(n == playing ? "Y" : "N"); };
    std::vector<std::string> targets = {
        base + "0&name=Letter&url=&active=" + active(0),
        base + "1&name=One%20FM&url=http://one.example:8000/a?x=1&y=2&active=" + active(1),
        base + "2&name=Two=2&Co&url=http://two.example:8000/b&active=" + active(2),
    };
    for (int n = 3; n <= 9; ++n) {
        targets.push_back(base + std::to_string(n) + "&name=&url=&active=" + active(n));
    }
    return targets;
}

TEST(SourceStatusOverHttp, SwitchReportsTenItemsInOrderWithYForThePlayingSource) {
    Reporter r;
    r.station.display.comboSourceList.text = "2 Select Source number 2";
    r.finish(cmdForceSwitch_Click(r.station));
    EXPECT_EQ(r.targets(), expectedTargets(2));
}

TEST(SourceStatusOverHttp, NothingPlayingReportsEveryItemWithN) {
    Reporter r;
    r.finish(SendSourceStatus(r.station));
    EXPECT_EQ(r.targets(), expectedTargets(-1));
}

TEST(SourceStatusOverHttp, AFailingAnswerDoesNotStopTheFollowingItems) {
    Reporter r;
    r.failingItem = "3";
    r.station.state.CurrentSource = 1;
    r.finish(SendSourceStatus(r.station));
    EXPECT_EQ(r.targets(), expectedTargets(1));
}

TEST(SourceStatusOverHttp, DeadServerLeavesTheSwitchComplete) {
    Reporter r;
    r.station.state.ManagementSendURL = test::unreachableUrl("/status.php");
    r.station.display.comboSourceList.text = "1";
    const auto running = cmdForceSwitch_Click(r.station);
    EXPECT_TRUE(running.done()) << "the switch ends without waiting for its report";
    EXPECT_EQ(r.station.state.CurrentSource, 1);
    EXPECT_TRUE(r.station.display.cmdForceSwitch.enabled);
    EXPECT_TRUE(r.targets().empty());
}

TEST(SourceStatusOverHttp, NoRequestWhenManagementUpdateIsZero) {
    Reporter r;
    r.station.state.ManagementUpdate = 0;
    r.station.display.comboSourceList.text = "1";
    r.finish(cmdForceSwitch_Click(r.station));
    r.finish(SendSourceStatus(r.station));
    EXPECT_TRUE(r.targets().empty());
}

}  // namespace
}  // namespace kestrel
