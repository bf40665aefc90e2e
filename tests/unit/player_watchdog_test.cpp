#include "playback/player_watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "playback/orders.h"
#include "support/sim_host.h"
#include "support/text_count.h"

namespace kestrel {
namespace {

const std::vector<std::string> kStopBoth = {"taskkill /f /im mplayer1.exe",
                                            "taskkill /f /im mplayer2.exe"};

struct Watchdog {
    void start(int slot) {
        host.players.run(StartPlayer{slot, "http://s.example/a"}, WindowStyle::MinimisedWithFocus);
    }
    void tick() {
        host.players.clearIssued();
        tmrCheckMplayerOK(host.station());
    }
    StationState& state() { return host.state(); }
    DisplayModel& display() { return host.display(); }

    test::SimHost host;
};

TEST(PlayerWatchdog, LabelsShowWhichSlotsRun) {
    struct Case {
        bool slot1;
        bool slot2;
        const char* label1;
        const char* label2;
    } cases[] = {
        {false, false, "", ""},
        {true, false, "1", ""},
        {false, true, "", "2"},
        {true, true, "1", "2"},
    };
    for (const auto& c : cases) {
        Watchdog w;
        w.state().CurrentSource = c.slot1 || c.slot2 ? 3 : -1;
        if (c.slot1) w.start(1);
        if (c.slot2) w.start(2);
        w.tick();
        EXPECT_EQ(w.display().lblMplayer1.caption, c.label1);
        EXPECT_EQ(w.display().lblMplayer2.caption, c.label2);
        EXPECT_TRUE(w.host.players.commands().empty());
        EXPECT_EQ(w.state().CurrentSource, c.slot1 || c.slot2 ? 3 : -1);
        EXPECT_FALSE(w.host.dir.exists("error.log"));
    }
}

TEST(PlayerWatchdog, DeadPlayerIsStoppedHandedBackAndLoggedOnce) {
    Watchdog w;
    w.host.write("error.log", "RESTART 12-06-2026 07:34:10 SOURCE:3\r\n");
    w.state().CurrentSource = 5;
    w.start(2);
    w.tick();
    w.host.players.die(2);
    w.host.clock.set(2026, 3, 4, 7, 5, 9);
    w.tick();
    EXPECT_EQ(w.host.players.commands(), kStopBoth);
    EXPECT_EQ(w.state().WasPlaying, 5);
    EXPECT_EQ(w.state().CurrentSource, -1);
    EXPECT_EQ(w.display().lblMplayer2.caption, "");
    const std::string logged =
        "RESTART 12-06-2026 07:34:10 SOURCE:3\r\nRESTART 03-04-2026 07:05:09 SOURCE:5\r\n";
    EXPECT_EQ(w.host.read("error.log"), logged);

    w.tick();
    EXPECT_TRUE(w.host.players.commands().empty());
    EXPECT_EQ(w.host.read("error.log"), logged);
}

// A source whose players keep dying is started again 15 s after its last
// restart, however often it dies meanwhile: each death must not put the
// restart off by another 15 s.
TEST(PlayerWatchdog, DeathsBeforeAPutOffRestartDoNotPutItOffFurther) {
    Watchdog w;
    w.host.clock.set(2026, 3, 4, 7, 0, 0);
    const double firstDeath = w.host.clock.steadySeconds();
    for (int death = 0; death < 6; ++death) {
        w.state().CurrentSource = 5;
        w.start(1);
        w.tick();
        w.host.players.die(1);
        w.tick();
        EXPECT_EQ(w.state().LastRestartAt, firstDeath + (death == 0 ? 0 : 15)) << death;
        w.host.clock.advanceSeconds(2);
    }
}

TEST(PlayerWatchdog, ACheckThatCannotBeMadeChangesNothing) {
    Watchdog w;
    w.state().CurrentSource = 4;
    w.host.players.checksFail = true;
    w.tick();
    EXPECT_EQ(w.display().lblMplayer1.caption, "STOP");
    EXPECT_EQ(w.display().lblMplayer2.caption, "STOP");
    EXPECT_EQ(w.state().CurrentSource, 4);
    EXPECT_EQ(w.state().WasPlaying, -1);
    EXPECT_TRUE(w.host.players.commands().empty());
    EXPECT_FALSE(w.host.dir.exists("error.log"));
}

TEST(PlayerWatchdog, AnErrorLogThatCannotBeWrittenStillRestarts) {
    Watchdog w;
    std::filesystem::create_directory(w.host.dir.path() / "error.log");
    w.state().CurrentSource = 7;
    w.tick();
    EXPECT_EQ(w.host.players.commands(), kStopBoth);
    EXPECT_EQ(w.state().WasPlaying, 7);
    EXPECT_EQ(w.state().CurrentSource, -1);
}

TEST(PlayerWatchdog, ErrorLogLinesHaveTheFixedShape) {
    LocalDateTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 6;
    t.hour = 7;
    t.minute = 34;
    t.second = 10;
    EXPECT_EQ(errorLogLine(kRestartEntry, t, 3), "RESTART 12-06-2026 07:34:10 SOURCE:3\r\n");
    EXPECT_EQ(errorLogLine(kRestartEntry, t, 0), "RESTART 12-06-2026 07:34:10 SOURCE:0\r\n");
    EXPECT_EQ(errorLogLine(kSwitchFailedEntry, t, 12),
              "SWITCH FAILED 12-06-2026 07:34:10 SOURCE:12\r\n");
}

using test::countOf;

// Source 9 cannot play from the start: source 0 stands in when it can, and
// source 9 is tried every 5 s beside it, every 2 s alone, with one line per
// 15 s; it is tried again within 5 s of its server's return.
TEST(PlayerWatchdog, ADeadSourceIsTriedOftenWhileSourceZeroStandsIn) {
    const struct {
        const char* what;
        std::string backup;
        bool manual;
        std::int16_t onAir;
        int fewestTries, mostTries;
    } cases[] = {
        {"source 0 stands in", "0u:http://zero.example/z\r\n", false, 0, 8, 14},
        {"no source 0", "", false, -1, 15, 31},
        {"MANUAL mode", "0u:http://zero.example/z\r\n", true, -1, 15, 31},
    };
    for (const auto& c : cases) {
        test::SimHost host;
        host.write("sourcelist.ini", "9n:Nowhere\r\n9u:http://dead.example/x\r\n" + c.backup);
        host.players.unplayableUrls.insert("http://dead.example/x");
        host.start();
        if (c.manual) {
            host.controller->cmdAutoManual();
            host.display().comboSourceList.text = "9";
            host.controller->cmdForceSwitch_Click();
        }
        host.runFor(60.5);
        EXPECT_EQ(host.state().CurrentSource, c.onAir) << c.what;
        EXPECT_EQ(host.state().PendingSource, 9) << c.what;
        const auto commands = host.players.commands();
        const auto tries = std::count_if(commands.begin(), commands.end(), [](const auto& command) {
            return command.find("http://dead.example/x") != std::string::npos;
        });
        EXPECT_GE(tries, c.fewestTries) << c.what;
        EXPECT_LE(tries, c.mostTries) << c.what;
        const std::string log = host.read("error.log");
        EXPECT_EQ(countOf(log, "SWITCH FAILED "), 4) << c.what << "\n" << log;
        EXPECT_EQ(countOf(log, "RESTART "), 0) << c.what << "\n" << log;
        EXPECT_EQ(countOf(host.journal.str(), "event=switch cause=source_dead source=0 "),
                  c.onAir == 0 ? 1 : 0)
            << c.what;

        host.players.unplayableUrls.clear();
        host.runFor(8);  // the next try within 5 s, then its two-second overlap
        EXPECT_EQ(host.state().CurrentSource, 9) << c.what;
        EXPECT_EQ(host.state().PendingSource, -1) << c.what;
        EXPECT_EQ(host.players.isRunning(1) + host.players.isRunning(2), 1) << c.what;
    }
}

// Source 1 plays; an event at 08:00:30 wants source 2, whose server refuses:
// its own try and the watchdog's at 08:00:45 fail, none in between. Then the
// server opens, a newer switch replaces the wish, or source 1's player dies.
TEST(PlayerWatchdog, APendingSourceIsTriedEveryFifteenSecondsUntilItPlaysOrIsReplaced) {
    enum class Then { ServerOpens, NewerSwitch, Outage };
    const struct {
        Then then;
        int onAir, pending, failedLines, restartLines;
    } cases[] = {{Then::ServerOpens, 2, -1, 2, 0},
                 {Then::NewerSwitch, 3, -1, 2, 0},
                 {Then::Outage, 1, 2, 4, 1}};
    for (const auto& c : cases) {
        test::SimHost host;
        host.write(
            "sourcelist.ini",
            "1u:http://one.example/a\r\n2u:http://two.example/b\r\n3u:http://three.example/c\r\n");
        host.write("sourceevents.ini", "2 070000 1\r\n2 080030 2\r\n");
        host.players.unplayableUrls.insert("http://two.example/b");
        host.start();
        host.runUntil(2026, 12, 7, 8, 0, 59);
        EXPECT_EQ(countOf(host.read("error.log"), "SWITCH FAILED 12-07-2026 08:00:"), 2);
        EXPECT_EQ(host.state().CurrentSource, 1);
        EXPECT_EQ(host.display().lblPendingSource.caption, "Waiting for source 2");
        EXPECT_EQ(host.display().lblPendingSource.background, kRed);
        if (c.then == Then::ServerOpens) host.players.unplayableUrls.clear();
        if (c.then == Then::NewerSwitch) host.finish(remoteSwitch(host.station(), "3"));
        // Source 1 starts again at once, source 2 is tried on its 15 s rhythm (08:01:02, :18).
        if (c.then == Then::Outage) host.players.die(1);
        host.runUntil(2026, 12, 7, 8, 1, 20);
        const int then = static_cast<int>(c.then);
        EXPECT_EQ(host.state().CurrentSource, c.onAir) << then;
        EXPECT_EQ(host.state().PendingSource, c.pending) << then;
        EXPECT_EQ(countOf(host.read("error.log"), "SWITCH FAILED "), c.failedLines) << then;
        EXPECT_EQ(countOf(host.read("error.log"), "RESTART 12-07-2026 08:00:59 SOURCE:1"),
                  c.restartLines)
            << then;
    }
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Source 1 plays in slot 1 from 08:00:00; at 08:01:00 its player or stream
// fails as each case says. Within the next minute: the lines in error.log,
// when a new player first started after the fault, and the source on air.
TEST(PlayerMonitor, ADeadPlayerOrAStalledStreamCostsSecondsAndOneLinePer15Seconds) {
    using Behaviour = test::FakePlayers::Behaviour;
    enum class Fault {
        Dies,
        DiesInManualMode,
        DiesAgainAndAgain,
        DiesSoonAfterEachRestart,
        Stalls,
        UnderrunRecovers,
        StallsWhileASwitchRuns,
        StopsDecodingSilently,
    };
    const struct {
        Fault fault;
        int restartLines, stallLines;
        std::int64_t firstStartMs;  ///< after the fault; -1: none
        int onAir, playersAtEnd;
    } cases[] = {
        {Fault::Dies, 1, 0, 0, 1, 1},  // told at once that its player ended
        {Fault::DiesInManualMode, 1, 0, 0, 1, 1},
        // Its restart ends within the overlap: a dead source, tried every 2 s,
        // with SWITCH FAILED lines at 08:01:17, :32, :47 after the RESTART line.
        {Fault::DiesAgainAndAgain, 1, 0, 0, -1, 0},
        // Plays 5 s after each restart; without a source 0 nothing stands in
        // while it waits out the 15 s between restarts.
        {Fault::DiesSoonAfterEachRestart, 4, 0, 0, -1, 0},
        {Fault::Stalls, 0, 1, 3000, 1, 1},  // Cache empty at +3 s, after 3 s without intake
        {Fault::UnderrunRecovers, 0, 0, -1, 1, 1},
        {Fault::StallsWhileASwitchRuns, 0, 0, 0, 2, 1},
        // No line at all: the tap's counter and the intake stand still for 2 s.
        {Fault::StopsDecodingSilently, 0, 1, 2000, 1, 1},
    };
    for (const auto& c : cases) {
        const int fault = static_cast<int>(c.fault);
        test::SimHost host;
        host.write("sourcelist.ini", "1u:http://one.example/a\r\n2u:http://two.example/b\r\n");
        host.write("sourceevents.ini", "2 075900 1\r\n");
        if (c.fault == Fault::StopsDecodingSilently)
            host.players.soundOfUrl["http://one.example/a"] = -20.0;
        host.start();
        host.runUntil(2026, 12, 7, 8, 1, 0);
        ASSERT_EQ(host.state().CurrentSource, 1) << fault;
        const int slot = host.state().CurrentMplayer;
        host.players.clearIssued();
        const std::int64_t faultMs = host.clock.ms();
        switch (c.fault) {
            case Fault::DiesAgainAndAgain:
            case Fault::DiesSoonAfterEachRestart:
                host.players.behaviourForUrl["http://one.example/a"] =
                    Behaviour{0, c.fault == Fault::DiesAgainAndAgain ? 2.0 : 5.0};
                [[fallthrough]];
            case Fault::Dies:
                host.players.die(slot);
                break;
            case Fault::DiesInManualMode:
                host.controller->cmdAutoManual();
                host.players.die(slot);
                break;
            case Fault::Stalls:
                host.players.stall(slot);
                break;
            case Fault::UnderrunRecovers:  // the cache runs dry while data still trickles in
                host.players.stall(slot, test::FakePlayers::kCacheLastsSeconds + 1, true, true);
                break;
            case Fault::StallsWhileASwitchRuns:
                host.players.stall(slot);
                host.players.behaviourForUrl["http://two.example/b"] = Behaviour{6, -1};
                host.station().spawn(remoteSwitch(host.station(), "2"));
                break;
            case Fault::StopsDecodingSilently:
                host.players.stall(slot, 10, /*logsCacheEmpty=*/false);
                host.players.soundOfUrl["http://one.example/a"] = std::nullopt;
                break;
        }
        host.runFor(59);
        const std::string log = host.read("error.log");
        EXPECT_EQ(countOf(log, "RESTART "), c.restartLines) << fault << log;
        EXPECT_EQ(countOf(log, "STALL "), c.stallLines) << fault << log;
        std::int64_t firstStartMs = -1;
        for (const auto& issued : host.players.issued()) {
            if (firstStartMs == -1 && issued.command.starts_with("cmd /c mplayer"))
                firstStartMs = issued.atMs - faultMs;
        }
        EXPECT_EQ(firstStartMs, c.firstStartMs) << fault;
        EXPECT_EQ(host.state().CurrentSource, c.onAir) << fault;
        EXPECT_EQ(host.players.isRunning(1) + host.players.isRunning(2), c.playersAtEnd) << fault;
        // The fake players take in 16000 bytes a second while their stream sends.
        EXPECT_EQ(host.display().lblStreamReceived.caption,
                  c.playersAtEnd == 1 ? "128 kbit/s" : "None")
            << fault;
    }
}

}  // namespace
}  // namespace kestrel
