#include "playback/switch_procedure.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "management/source_status.h"
#include "playback/orders.h"
#include "station/time_format.h"
#include "support/fake_station.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::FakeStation;

const char* const kOne = "http://one.example/a";
const char* const kTwo = "http://two.example/b";

struct Switcher : FakeStation {
    Switcher() {
        write("sourcelist.ini",
              "; sources\r\n1n:One FM\r\n1u:http://one.example/a\r\n"
              "2u:http://two.example/b\r\n2n:Two FM\r\n"
              "7u:http://\r\n7n:Seven\r\n8u:http://x\r\n8n:Eight\r\n");
    }
    void choose(const std::string& selectorText) { display().comboSourceList.text = selectorText; }
    void press(const std::string& selectorText) {
        choose(selectorText);
        finish(cmdForceSwitch_Click(station));
    }
    void configureManagement() {
        station.afterSwitch = startSourceStatusReport;
        state().ManagementUpdate = 1;
        state().ManagementSendURL = "http://mgmt.example/status.php";
        state().ManagementKey = "k3y";
        state().ManagementSwitcher = "studio A";
    }
};

std::string startOf(int slot, const std::string& url) {
    return "cmd /c mplayer" + std::to_string(slot) + ".exe " + url + " -quiet >mplayer" +
           std::to_string(slot) + ".log";
}

TEST(SwitchProcedure, StartsPausesTwoSecondsThenStopsTheOtherSlot) {
    Switcher s;
    s.write("mplayer2.log", "old");
    const std::int64_t t0 = s.clock.ms();
    s.press("1 Select Source number 1");
    const auto& issued = s.players.issued();
    ASSERT_EQ(issued.size(), 2u);
    EXPECT_EQ(issued[0].command, startOf(1, kOne));
    EXPECT_EQ(issued[0].atMs, t0);
    EXPECT_EQ(issued[1].command, "taskkill /f /im mplayer2.exe");
    EXPECT_EQ(issued[1].atMs, t0 + 2000);
    for (const auto& command : issued)
        EXPECT_EQ(command.style, WindowStyle::MinimisedWithFocus);
    EXPECT_EQ(s.clock.ms(), t0 + 2000);
    EXPECT_FALSE(s.dir.exists("mplayer2.log"));
    EXPECT_TRUE(s.dir.exists("mplayer1.log"));
    EXPECT_EQ(s.state().CurrentMplayer, 1);
    EXPECT_EQ(s.state().CurrentSource, 1);
    EXPECT_EQ(s.state().PlayURL, kOne);
    EXPECT_EQ(s.display().lblCurrentSource.caption, kOne);
    EXPECT_EQ(s.display().lblStudio.caption, "One FM");
    EXPECT_EQ(s.display().lblSourceNumber.caption, "1");
    EXPECT_EQ(s.display().lblSourceDisp.caption, "1");
    EXPECT_TRUE(s.display().cmdForceSwitch.enabled);
}

TEST(SwitchProcedure, SlotsAlternateWhateverIsRequested) {
    Switcher s;
    const struct {
        const char* selector;
        int slot;
        const char* url;
    } steps[] = {{"1", 1, kOne}, {"1", 2, kOne}, {"2", 1, kTwo}};
    for (const auto& step : steps) {
        s.players.clearIssued();
        s.write("mplayer" + std::to_string(3 - step.slot) + ".log", "old");
        s.press(step.selector);
        const std::vector<std::string> expected = {
            startOf(step.slot, step.url),
            "taskkill /f /im mplayer" + std::to_string(3 - step.slot) + ".exe"};
        EXPECT_EQ(s.players.commands(), expected);
        EXPECT_EQ(s.state().CurrentMplayer, step.slot);
        EXPECT_FALSE(s.dir.exists("mplayer" + std::to_string(3 - step.slot) + ".log"));
        EXPECT_TRUE(s.players.isRunning(step.slot));
        EXPECT_FALSE(s.players.isRunning(3 - step.slot));
    }
}

TEST(SwitchProcedure, AddressShorterThanEightCharactersKeepsTheSourceOnAir) {
    const struct {
        const char* key;
        std::string url;
        std::string studio;
        int source;
    } cases[] = {
        {"7", kOne, "One FM", 7},
        {"8", "http://x", "Eight", 8},
        {"5", kOne, "One FM", 5},
        {"S", kOne, "One FM", 0},
    };
    for (const auto& c : cases) {
        Switcher s;
        s.press("1 Select Source number 1");
        s.players.clearIssued();
        s.press(c.key);
        EXPECT_EQ(s.players.commands().front(), startOf(2, c.url)) << c.key;
        EXPECT_EQ(s.display().lblCurrentSource.caption, c.url) << c.key;
        EXPECT_EQ(s.display().lblStudio.caption, c.studio) << c.key;
        EXPECT_EQ(s.state().CurrentSource, c.source) << c.key;
    }
}

TEST(SwitchProcedure, UnknownKeyBeforeAnySourcePlaysTheDesignTextNone) {
    Switcher s;
    s.press("5 Select Source number 5");
    EXPECT_EQ(s.players.commands().front(), startOf(1, "None"));
    EXPECT_EQ(s.state().PlayURL, "None");
    EXPECT_EQ(s.display().lblStudio.caption, "NONE");
    EXPECT_EQ(s.state().CurrentSource, 5);
}

TEST(SwitchProcedure, SelectorDesignTextGivesKeyS) {
    Switcher s;
    s.press("1");
    s.players.clearIssued();
    s.display().comboSourceList.text = "Select Source for Forced Manual Switch";
    s.finish(cmdForceSwitch_Click(s.station));
    EXPECT_EQ(s.players.commands().front(), startOf(2, kOne));
    EXPECT_EQ(s.state().CurrentSource, 0);
}

TEST(SwitchProcedure, ApiSwitchPlaysItsKeyNotTheSelectors) {
    Switcher s;
    s.choose("1 Select Source number 1");
    s.finish(apiSwitch(s.station, "2"));
    EXPECT_EQ(s.players.commands().front(), startOf(1, kTwo));
    EXPECT_EQ(s.state().CurrentSource, 2);
}

TEST(SwitchProcedure, SourceNumberIsTheKeysLeadingDigitsAndOverflowIsSkipped) {
    const std::pair<std::string, int> cases[] = {
        {"3", 3},         {"007", 7},   {"12", 12},   {"4abc", 4},         {"-3", 0},
        {"32767", 32767}, {"32768", 1}, {"99999", 1}, {"123456789012", 1},
    };
    for (const auto& [key, expected] : cases) {
        Switcher s;
        s.press("1");
        s.players.clearIssued();
        s.finish(apiSwitch(s.station, key));
        EXPECT_EQ(s.state().CurrentSource, expected) << key;
        // The switch itself went through.
        EXPECT_EQ(s.players.commands().size(), 2u) << key;
        EXPECT_EQ(s.state().CurrentMplayer, 2) << key;
    }
    Switcher s;
    s.state().CurrentSource = 4;
    s.choose("1");
    s.finish(apiSwitch(s.station, "99999"));
    EXPECT_EQ(s.state().CurrentSource, 4);
    EXPECT_TRUE(s.display().cmdForceSwitch.enabled);
}

// Source 1 plays on the operator's order; each case makes another wish.
TEST(SwitchProcedure, EntriesDifferOnlyWhereTheirTableSays) {
    struct Case {
        const char* entry;
        std::function<void(Switcher&)> run;
        bool buttonEnabledDuringSwitch;
        bool resets;          ///< WasPlaying, SilenceFlag and LinkFailCount reset by the order
        bool detectorAfresh;  ///< another source on air: LinkFailCount and SilenceFlag reset
        int currentSource;
        const char* url;
    };
    const Case cases[] = {
        {"operator", [](Switcher& s) { s.press("2 Select Source number 2"); }, false, true, true, 2,
         kTwo},
        {"operator via API",
         [](Switcher& s) {
             s.choose("2 Select Source number 2");
             s.finish(apiSwitch(s.station, "12"));
         },
         false, true, true, 12, kOne},
        {"a scheduled event",
         [](Switcher& s) {
             s.state().ScheduledWish = {12, "2", SwitchCause::Schedule,
                                        localSeconds(s.station.now()), 0};
             s.station.factsChanged();
         },
         true, false, true, 12, kTwo},
        {"management poll", [](Switcher& s) { s.finish(remoteSwitch(s.station, "2")); }, true,
         false, true, 2, kTwo},
        {"failover to a source 0 without an address",
         [](Switcher& s) {
             s.state().LinkSource = 1;
             s.station.factsChanged();
         },
         true, false, false, 0, kOne},
    };
    for (const auto& c : cases) {
        Switcher s;
        s.press("1");
        s.configureManagement();
        s.state().SilenceFlag = 1;
        s.state().LinkFailCount = 3;
        s.state().WasPlaying = 4;
        s.players.clearIssued();
        std::vector<bool> buttonDuringReport;
        std::vector<int> sourceDuringReport;
        s.statusReportFetcher.respond = [&](const std::string&) {
            buttonDuringReport.push_back(s.display().cmdForceSwitch.enabled);
            sourceDuringReport.push_back(s.state().CurrentSource);
            return FakeFetcher::ok("");
        };
        c.run(s);
        ASSERT_FALSE(s.players.commands().empty()) << c.entry;
        EXPECT_EQ(s.players.commands().front(), startOf(2, c.url)) << c.entry;
        EXPECT_EQ(s.state().CurrentMplayer, 2) << c.entry;
        EXPECT_EQ(s.state().CurrentSource, c.currentSource) << c.entry;
        EXPECT_EQ(s.display().lblSourceNumber.caption, std::to_string(c.currentSource));
        ASSERT_EQ(buttonDuringReport.size(), 10u) << c.entry;
        EXPECT_EQ(buttonDuringReport.front(), c.buttonEnabledDuringSwitch) << c.entry;
        EXPECT_EQ(sourceDuringReport.front(), c.currentSource) << c.entry;
        EXPECT_TRUE(s.display().cmdForceSwitch.enabled) << c.entry;
        EXPECT_EQ(s.state().SilenceFlag, c.detectorAfresh || c.resets ? 0 : 1) << c.entry;
        EXPECT_EQ(s.state().LinkFailCount, c.detectorAfresh || c.resets ? 0 : 3) << c.entry;
        EXPECT_EQ(s.state().WasPlaying, -1) << c.entry << ": any switch ends a restart";
    }
}

// Source 1 plays in slot 1; the switch to source 2 starts slot 2, whose
// player behaves as each case says.
TEST(SwitchProcedure, TheOldSlotStopsOnceTheNewPlayerPlaysAndNeverForOneThatEnded) {
    using Behaviour = test::FakePlayers::Behaviour;
    struct Case {
        const char* what;
        Behaviour player;
        std::int16_t switchTimeout;
        bool played;
        std::int64_t endMs;  ///< when the old slot is stopped, or the failed new one
        bool logWritten = true;
    } cases[] = {
        // Played: the old slot is faded out over a second, then stopped.
        {"prints at once", {0, -1}, 10, true, 3000},
        {"prints at 1.9 s", {1.9, -1}, 10, true, 3000},
        {"prints at 4.14 s", {4.14, -1}, 10, true, 5200},
        {"prints at once, ends during the fade", {0, 2.5}, 10, false, 2990},
        {"never prints", {-1, -1}, 10, false, 10000},
        {"never prints, SwitchTimeout 3", {-1, -1}, 3, false, 3000},
        {"ends at once", {-1, 0}, 10, false, 1000},
        {"ends at 0.5 s", {-1, 0.5}, 10, false, 500},
        {"prints at 0.5 s, ends at 1.5 s", {0.5, 1.5}, 10, false, 1500},
        {"ends after the time-out", {-1, 12}, 10, false, 10000},
        // Nothing tells that it plays, and the old slot's player does.
        {"an empty log at the time-out (a full disk)", {-1, -1}, 10, false, 10000, false},
    };
    for (const auto& c : cases) {
        Switcher s;
        s.press("1");
        s.configureManagement();
        s.state().SwitchTimeout = c.switchTimeout;
        s.players.behaviourForUrl[kTwo] = c.player;
        if (c.logWritten) s.players.logForUrl[kTwo] = "Playing http://two.example/b.\n";
        s.players.clearIssued();
        const std::int64_t t0 = s.clock.ms();
        s.choose("2");
        const auto run = cmdForceSwitch_Click(s.station);
        s.finish(run);
        const auto& issued = s.players.issued();
        ASSERT_EQ(issued.size(), 2u) << c.what;
        EXPECT_EQ(issued[1].command,
                  c.played ? "taskkill /f /im mplayer1.exe" : "taskkill /f /im mplayer2.exe")
            << c.what;
        EXPECT_EQ(issued[1].atMs - t0, c.endMs) << c.what;
        EXPECT_EQ(s.players.volumeOf(c.played ? 2 : 1), 25) << c.what << ": at its level";
        EXPECT_TRUE(s.players.isRunning(c.played ? 2 : 1)) << c.what;
        EXPECT_EQ(s.state().CurrentSource, c.played ? 2 : 1) << c.what;
        EXPECT_EQ(s.state().CurrentMplayer, c.played ? 2 : 1) << c.what;
        EXPECT_EQ(s.display().lblCurrentSource.caption, c.played ? kTwo : kOne) << c.what;
        EXPECT_EQ(s.display().lblStudio.caption, c.played ? "Two FM" : "One FM") << c.what;
        EXPECT_EQ(s.display().lblSourceDisp.caption, c.played ? "2" : "1") << c.what;
        EXPECT_EQ(s.state().PlayURL, c.played ? kTwo : kOne) << c.what;
        EXPECT_EQ(s.state().PendingSource, c.played ? -1 : 2) << c.what;
        EXPECT_EQ(s.dir.exists("mplayer1.log"), !c.played) << "the old slot's log" << c.what;
        const std::string failedAt = std::to_string(102 + c.endMs / 1000).substr(1);
        EXPECT_EQ(
            s.read("error.log"),
            c.played ? "<missing>" : "SWITCH FAILED 12-07-2026 08:00:" + failedAt + " SOURCE:2\r\n")
            << c.what;
        EXPECT_TRUE(s.display().cmdForceSwitch.enabled) << c.what;
        EXPECT_EQ(s.statusReportFetcher.requests.size(), c.played ? 10u : 0u) << c.what;
        EXPECT_EQ(s.station.counters.switchFailures, c.played ? 0u : 1u) << c.what;
    }
}

TEST(SourceStatusReport, SendsTenRequestsWithYOnlyForThePlayingSource) {
    Switcher s;
    s.write(
        "sourcelist.ini",
        "1n:One FM\r\n1u:http://one.example/a?x=1&y=2\r\n2n:Two & Co\r\n2u:http://two.example/b\r\n"
        ";3n:Hidden\r\nxn:Letter\r\n");
    s.configureManagement();
    s.statusReportFetcher.busyAnswer = true;
    s.press("2");
    const std::string base = "http://mgmt.example/status.php?key=k3y&switcher=studio A&item=";
    std::vector<std::string> expected = {
        base + "0&name=Letter&url=&active=N",
        base + "1&name=One FM&url=http://one.example/a?x=1&y=2&active=N",
        base + "2&name=Two & Co&url=http://two.example/b&active=Y",
    };
    for (int n = 3; n <= 9; ++n)
        expected.push_back(base + std::to_string(n) + "&name=&url=&active=N");
    EXPECT_EQ(s.statusReportFetcher.urls(), expected);
    for (const auto& request : s.statusReportFetcher.requests)
        EXPECT_EQ(request.form, BodyForm::Bytes);
    EXPECT_EQ(s.statusReportFetcher.cancels, 10);
}

TEST(SourceStatusReport, NothingPlayingReportsEveryItemWithN) {
    Switcher s;
    s.configureManagement();
    s.finish(SendSourceStatus(s.station));
    ASSERT_EQ(s.statusReportFetcher.urls().size(), 10u);
    for (const auto& url : s.statusReportFetcher.urls())
        EXPECT_EQ(url.substr(url.size() - 9), "&active=N");
}

TEST(SourceStatusReport, NoRequestsWhenManagementUpdateIsNotPositive) {
    for (const std::int16_t update : {0, -1, -32768}) {
        Switcher s;
        s.configureManagement();
        s.state().ManagementUpdate = update;
        s.press("1");
        s.finish(SendSourceStatus(s.station));
        EXPECT_TRUE(s.statusReportFetcher.requests.empty()) << update;
    }
}

TEST(SourceStatusReport, FailingRequestsAndAMissingListStopNothing) {
    Switcher s;
    s.configureManagement();
    s.statusReportFetcher.respond = [](const std::string& url) -> FetchResult {
        if (url.find("&item=3") != std::string::npos) throw std::runtime_error("refused");
        return FakeFetcher::failed();
    };
    std::filesystem::remove(s.dir.path() / "sourcelist.ini");
    s.press("1");
    ASSERT_EQ(s.statusReportFetcher.urls().size(), 10u);
    EXPECT_EQ(
        s.statusReportFetcher.urls()[9],
        "http://mgmt.example/status.php?key=k3y&switcher=studio A&item=9&name=&url=&active=N");
    EXPECT_TRUE(s.display().cmdForceSwitch.enabled);
    EXPECT_EQ(s.state().CurrentSource, 1);
    EXPECT_EQ(s.state().PlayURL, "None");
}

}  // namespace
}  // namespace kestrel
