#include "scheduler/event_executor.h"

#include <gtest/gtest.h>

#include "playback/switch_procedure.h"
#include "support/fake_station.h"

namespace kestrel {
namespace {

using test::FakeStation;

const char* const kSources =
    "0u:http://backup.example:8000/zero\r\n"
    "3n:Three FM\r\n3u:http://three.example:8000/live\r\n"
    "4n:Four FM\r\n4u:http://four.example:8000/live\r\n"
    "5n:Five FM\r\n5u:http://five.example:8000/live\r\n"
    "9n:Nine FM\r\n9u:http://nine.example:8000/live\r\n";

struct Executor : FakeStation {
    Executor() { write("sourcelist.ini", kSources); }

    void at(int day, int hour, int minute, int second) {
        clock.set(2026, 12, day, hour, minute, second);
    }
    /// The executor has looked at the schedule since then.
    void watchingSince(int day, int hour, int minute, int second) {
        at(day, hour, minute, second);
        owedEventsFromNow(station);
    }
    /// Runs one tick and tells whether it started a player.
    bool tick() {
        players.clearIssued();
        finish(tmrCheckAndDoEvents(station));
        return !players.issued().empty();
    }
};

TEST(EventExecutor, FirstTickPlaysTodaysLastPassedEventElseSourceNine) {
    const std::pair<std::string, int> cases[] = {
        {"2 080000 3", 3}, {kNoEvent, 9}, {"2 080000 X", 9}, {"", 9}};
    for (const auto& [lastEvent, expected] : cases) {
        Executor e;
        e.at(7, 10, 0, 0);
        e.state().LastEvent = lastEvent;
        ASSERT_TRUE(e.tick()) << lastEvent;
        EXPECT_EQ(e.state().CurrentSource, expected) << lastEvent;
        EXPECT_EQ(e.players.commands().front(), "cmd /c mplayer1.exe http://" +
                                                    std::string(expected == 3 ? "three" : "nine") +
                                                    ".example:8000/live -quiet >mplayer1.log")
            << lastEvent;
    }
}

// Monday 08:30:00, watched since 08:29:00: owed from its second, once,
// however late the executor can act (a slow switch held the turn).
TEST(EventExecutor, AnEventFiresOnceFromItsSecondAlsoAfterItsMinute) {
    struct Case {
        int day, hour, minute, second;
        bool due;
    } cases[] = {
        {7, 8, 29, 59, false}, {7, 8, 30, 0, true},   {7, 8, 30, 59, true}, {7, 8, 31, 0, true},
        {7, 9, 30, 0, true},   {14, 8, 30, 10, true}, {7, 8, 0, 30, false},
    };
    for (const auto& c : cases) {
        Executor e;
        e.state().CurrentSource = 5;
        e.state().NextEvent = "2 083000 3";
        e.watchingSince(7, 8, 29, 0);
        e.at(c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(e.tick(), c.due) << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
        EXPECT_EQ(e.state().CurrentSource, c.due ? 3 : 5);
        e.state().CurrentSource = 5;  // the operator, say, before the event's second
        EXPECT_FALSE(e.tick()) << "fires once";
    }
}

TEST(EventExecutor, TheLatestOwedEventWinsAndAnOrderAfterItsSecondReplacesIt) {
    Executor e;
    e.state().CurrentSource = 5;
    e.state().LastEvent = "2 083000 3";
    e.state().NextEvent = "2 083020 4";
    e.watchingSince(7, 8, 29, 0);
    e.at(7, 8, 30, 30);
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 4);

    Executor later;
    later.state().CurrentSource = 5;
    later.state().NextEvent = "2 083000 3";
    later.watchingSince(7, 8, 29, 0);
    later.at(7, 8, 30, 10);
    later.finish(apiSwitch(later.station, "9"));  // asked for after the event's second
    EXPECT_FALSE(later.tick());
    EXPECT_EQ(later.state().CurrentSource, 9);
}

TEST(EventExecutor, EventOfTheSourceAlreadyPlayingSwitchesNothing) {
    Executor e;
    e.state().CurrentSource = 3;
    e.state().NextEvent = "2 083000 3";
    e.at(7, 8, 30, 0);
    EXPECT_FALSE(e.tick());
    EXPECT_EQ(e.display().lblSourceNumber.caption, "3");
    EXPECT_EQ(e.display().lblSourceDisp.caption, "3");
}

TEST(EventExecutor, SilenceFlagPlaysSourceZeroAndRemembersTheFailedSource) {
    Executor e;
    e.state().CurrentSource = 4;
    e.state().SilenceFlag = 1;
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 0);
    EXPECT_EQ(e.state().WasPlaying, 4);
    EXPECT_EQ(e.state().SilenceFlag, 1);
    EXPECT_EQ(e.state().PlayURL, "http://backup.example:8000/zero");
    // Every further tick asks for source 0 again; only the first switched.
    EXPECT_FALSE(e.tick());
    EXPECT_FALSE(e.tick());
    EXPECT_EQ(e.state().WasPlaying, -1) << "source 0 is no source to return to";
}

TEST(EventExecutor, DueEventWinsOverTheFallback) {
    Executor e;
    e.state().CurrentSource = 4;
    e.state().SilenceFlag = 1;
    e.state().NextEvent = "2 083000 3";
    e.watchingSince(7, 8, 29, 0);
    e.at(7, 8, 30, 5);
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 3);
    EXPECT_EQ(e.state().WasPlaying, -1) << "the event says what plays";
    EXPECT_EQ(e.state().SilenceFlag, 0) << "the detector watches source 3 afresh";
}

TEST(EventExecutor, RestoreRequestRestartsTheSourceInTheOtherSlot) {
    Executor e;
    e.state().CurrentMplayer = 1;
    e.state().CurrentSource = -1;
    e.state().WasPlaying = 4;
    e.state().LastEvent = "2 075900 3";
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 4);
    EXPECT_EQ(e.state().WasPlaying, -1);
    EXPECT_EQ(e.state().CurrentMplayer, 2);
    const std::vector<std::string> expected = {
        "cmd /c mplayer2.exe http://four.example:8000/live -quiet >mplayer2.log",
        "taskkill /f /im mplayer1.exe"};
    EXPECT_EQ(e.players.commands(), expected);
}

TEST(EventExecutor, EventSwitchSetsTheCandidateAndKeysOnItsLastDigit) {
    Executor e;
    e.state().CurrentSource = 3;
    e.state().WasPlaying = 15;
    e.state().LinkFailCount = 1;
    e.display().cmdForceSwitch.enabled = false;
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 15);
    EXPECT_EQ(e.state().PlayURL, "http://five.example:8000/live");
    EXPECT_EQ(e.display().lblStudio.caption, "Five FM");
    EXPECT_EQ(e.display().lblSourceNumber.caption, "15");
    // The operator's resets and button are not the executor's.
    EXPECT_EQ(e.state().LinkFailCount, 1);
    EXPECT_FALSE(e.display().cmdForceSwitch.enabled);
}

TEST(EventExecutor, FirstSwitchUsesSlotOneStopsSlotTwoAndDeletesItsLog) {
    Executor e;
    e.write("mplayer2.log", "old");
    e.state().LastEvent = "2 080000 3";
    const std::int64_t before = e.clock.ms();
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentMplayer, 1);
    EXPECT_EQ(e.players.commands().back(), "taskkill /f /im mplayer2.exe");
    EXPECT_FALSE(e.dir.exists("mplayer2.log"));
    EXPECT_EQ(e.clock.ms() - before, 2000);
    for (const auto& issued : e.players.issued()) {
        EXPECT_EQ(issued.style, WindowStyle::MinimisedWithFocus);
    }
}

TEST(EventExecutor, EverySourceNumberCaptionIsRefreshedOnEveryTick) {
    Executor e;
    e.state().CurrentSource = 7;
    e.state().NextEvent = kNoEvent;
    e.display().lblSourceNumber.caption = "stale";
    e.display().lblSourceDisp.caption = "stale";
    EXPECT_FALSE(e.tick());
    EXPECT_EQ(e.display().lblSourceNumber.caption, "7");
    EXPECT_EQ(e.display().lblSourceDisp.caption, "7");
}

TEST(EventExecutor, MalformedEventTextsNeverFireOrCrash) {
    for (const char* next : {"", "2", "2 08", "2 0830", "2 083000", "2 08300", "X XXXXXX X",
                             "2 0830003", "2 0830ab 3"}) {
        Executor e;
        e.state().CurrentSource = 5;
        e.state().NextEvent = next;
        e.at(7, 8, 30, 0);
        e.tick();
        EXPECT_LE(e.state().CurrentSource, 9) << next;
    }
    // A due event whose source is not a digit asks for source 0.
    Executor e;
    e.state().CurrentSource = 5;
    e.state().NextEvent = "2 083000 a";
    e.watchingSince(7, 8, 29, 0);
    e.at(7, 8, 30, 0);
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 0);
}

TEST(ClockAndDate, LabelsShowTheTimeAndDate) {
    FakeStation f;
    f.clock.set(2027, 1, 2, 7, 5, 9);
    tmrClockandEventCheck(f.station);
    EXPECT_EQ(f.display().lblClock.caption, "07:05:09");
    EXPECT_EQ(f.display().lblDate.caption, "2027-01-02");
    f.clock.set(2026, 12, 31, 23, 59, 59);
    tmrClockandEventCheck(f.station);
    EXPECT_EQ(f.display().lblClock.caption, "23:59:59");
    EXPECT_EQ(f.display().lblDate.caption, "2026-12-31");
}

}  // namespace
}  // namespace kestrel
