#include <gtest/gtest.h>

#include "management/change_poll.h"
#include "management/config_download.h"
#include "support/loopback_server.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::LoopbackServer;
using test::SimHost;

constexpr const char* kDownloadTarget = "/get.php?key=K1&switcher=studio";
constexpr const char* kPollTarget = "/changes.php?key=K1&switcher=studio";
constexpr const char* kOldSchedule = "2 083000 3\r\n2 090000 4\r\n3 120000 5\r\n";
constexpr const char* kStream1 = "http://one.example/live";
constexpr const char* kStream3 = "http://three.example/live";

/// A management server on 127.0.0.1 and a station whose managementFetcher reaches it
/// through the real libcurl fetcher.
struct ManagementServer {
    ManagementServer() {
        server.http.Get("/get.php", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(mutex);
            response.status = scheduleStatus;
            response.set_content(schedule, "text/plain");
        });
        server.http.Get("/status.php", [](const httplib::Request&, httplib::Response&) {});
        server.http.Get("/changes.php",
                        [this](const httplib::Request&, httplib::Response& response) {
                            std::lock_guard lock(mutex);
                            response.set_content(change, "text/plain");
                        });
        server.start();
        test::routeThroughCurl(host.managementFetcher, transfers, curl);
        test::routeThroughCurl(host.changePollFetcher, transfers, curl);
        test::routeThroughCurl(host.statusReportFetcher, transfers, curl);

        auto& s = host.state();
        s.ManagementUpdate = 1;
        s.ManagementURL = server.url("/get.php");
        s.ManagementSendURL = server.url("/status.php");
        s.CheckForChangeURL = server.url("/changes.php");
        s.ManagementKey = "K1";
        s.ManagementSwitcher = "studio";
        host.write("sourceevents.ini", kOldSchedule);
        host.write("sourcelist.ini", std::string("1n:One\r\n1u:") + kStream1 +
                                         "\r\n3n:Three\r\n3u:" + kStream3 + "\r\n");
    }

    void answerSchedule(int status, std::string bytes) {
        std::lock_guard lock(mutex);
        scheduleStatus = status;
        schedule = std::move(bytes);
    }
    void answerChange(std::string answer) {
        std::lock_guard lock(mutex);
        change = std::move(answer);
    }
    /// The configuration file of a station that uses this server.
    std::string configuration(const std::string& extraLines) const {
        return "[Kestrelfield]\r\nManagementURL=" + server.url("/get.php") +
               "\r\nManagementSendURL=" + server.url("/status.php") +
               "\r\nCheckForChangeURL=" + server.url("/changes.php") +
               "\r\nManagementKey=K1\r\nManagementSwitcher=studio\r\n" + extraLines;
    }
    const std::string& caption() { return host.display().lblConfigurationStatus.caption; }

    std::mutex mutex;
    int scheduleStatus = 200;
    std::string schedule;
    std::string change;
    LoopbackServer server;
    test::LiveTransfers transfers;
    CurlFetcher curl{transfers.multi, 5};
    SimHost host;
};

TEST(ManagementHttp, DownloadsTwiceAfterTheCountdownAndWritesTheBytesUnconverted) {
    ManagementServer m;
    const std::string lfOnly = "2 100000 7\n4 113000 2\n";
    m.answerSchedule(200, lfOnly);
    m.host.write("kestrelfield.ini", m.configuration("ManagementUpdate=3\r\n"));
    m.host.start();

    m.host.runFor(60);
    EXPECT_EQ(m.caption(), "Countdown till config update: 2");
    m.host.runFor(60);
    EXPECT_EQ(m.caption(), "Countdown till config update: 1");
    EXPECT_TRUE(m.server.targetsStartingWith("/get.php").empty());

    const auto reportsBefore = m.server.targetsStartingWith("/status.php").size();
    m.host.runFor(60);
    EXPECT_EQ(m.server.targetsStartingWith("/get.php"),
              (std::vector<std::string>{kDownloadTarget, kDownloadTarget}));
    EXPECT_EQ(m.host.read("sourceevents.ini"), lfOnly);
    EXPECT_EQ(m.caption().rfind("Config updated 08:03:", 0), 0u) << m.caption();
    EXPECT_EQ(m.server.targetsStartingWith("/status.php").size(), reportsBefore + 10);
}

TEST(ManagementHttp, AShorterScheduleLeavesNothingOfTheOldOne) {
    ManagementServer m;
    m.answerSchedule(200, "1 060000 2\r\n");
    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.host.read("sourceevents.ini"), "1 060000 2\r\n");
}

TEST(ManagementHttp, AnErrorPageOrNoServerLeavesTheScheduleAndSaysSo) {
    for (const bool reachable : {true, false}) {
        ManagementServer m;
        m.answerSchedule(500, "<html>Internal Server Error</html>");
        if (!reachable) m.host.state().ManagementURL = test::unreachableUrl("/get.php");
        m.host.finish(tmrManagementDownload(m.host.station()));
        EXPECT_EQ(m.host.read("sourceevents.ini"), kOldSchedule) << reachable;
        EXPECT_EQ(m.caption(), "Config update failed 08:00:00 2026-07-12") << reachable;
        EXPECT_EQ(m.server.targetsStartingWith("/get.php").size(), reachable ? 2u : 0u);
        EXPECT_EQ(m.server.targetsStartingWith("/status.php").size(), 10u);
        EXPECT_EQ(m.host.state().ManagementCounter, 0);
    }
}

TEST(ManagementHttp, ADigitSwitchesAndARepeatedOrderChangesNothing) {
    ManagementServer m;
    m.answerChange("3");
    m.host.finish(tmrCheckForChanges(m.host.station()));
    EXPECT_EQ(m.server.targetsStartingWith("/changes.php"),
              (std::vector<std::string>{kPollTarget}));
    EXPECT_EQ(m.host.display().lblNextEvent.caption, "EMERGENCY SWITCH TO 3");
    EXPECT_EQ(m.host.state().CurrentSource, 3);
    EXPECT_TRUE(m.host.players.isRunning(1));
    EXPECT_EQ(m.host.players.urlOf(1), kStream3);

    // Starting it again would play the stream twice, offset by the buffering.
    m.host.finish(tmrCheckForChanges(m.host.station()));
    EXPECT_TRUE(m.host.players.isRunning(1));
    EXPECT_FALSE(m.host.players.isRunning(2));
}

TEST(ManagementHttp, ALineEndAfterTheDigitIsTrimmed) {
    ManagementServer m;
    m.answerChange("1");
    m.host.finish(tmrCheckForChanges(m.host.station()));
    m.answerChange("3\r\n");
    m.host.finish(tmrCheckForChanges(m.host.station()));
    EXPECT_EQ(m.host.state().CurrentSource, 3);
    EXPECT_EQ(m.host.players.urlOf(2), kStream3);
    EXPECT_TRUE(m.host.players.isRunning(2));
    EXPECT_FALSE(m.host.players.isRunning(1));
}

TEST(ManagementHttp, OtherAnswersAndNoServerOrderNothing) {
    for (const std::string answer : {"", "x", " \r\n", "unreachable"}) {
        ManagementServer m;
        m.answerChange(answer);
        if (answer == "unreachable") {
            m.host.state().CheckForChangeURL = test::unreachableUrl("/changes.php");
        }
        m.host.finish(tmrCheckForChanges(m.host.station()));
        EXPECT_TRUE(m.host.players.commands().empty()) << answer;
        EXPECT_EQ(m.host.display().lblNextEvent.caption, "No Event Next") << answer;
        EXPECT_EQ(m.host.state().CurrentSource, -1) << answer;
    }
}

TEST(ManagementHttp, PollsOnlyWhenCheckForChangesIsOne) {
    for (const char* setting : {"0", "2", "1"}) {
        ManagementServer m;
        m.answerChange("x");
        m.host.write("kestrelfield.ini",
                     m.configuration(std::string("CheckForChanges=") + setting + "\r\n"));
        m.host.start();
        m.host.runFor(150);
        EXPECT_EQ(m.server.targetsStartingWith("/changes.php").size(),
                  std::string(setting) == "1" ? 2u : 0u)
            << setting;
    }
}

}  // namespace
}  // namespace kestrel
