#include "scheduler/event_executor.h"

#include <gtest/gtest.h>

#include "playback/orders.h"
#include "station/time_format.h"
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

// Local seconds of a December 2026 day and time.
std::int64_t civilSeconds(int day, int hour, int minute, int second) {
    LocalDateTime t;
    t.year = 2026;
    t.month = 12;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return localSeconds(t);
}

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
    /// Runs one tick and tells whether a player started (the reconciler
    /// follows the executor's facts at once here).
    bool tick() {
        players.clearIssued();
        tmrCheckAndDoEvents(station);
        return !players.issued().empty();
    }
    /// The source the schedule wants, and since when.
    std::pair<int, std::int64_t> wish() const {
        return {station.state.ScheduledWish.source, station.state.ScheduledWish.at};
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
// however late the executor looks; then the wish stays until a newer one.
TEST(EventExecutor, AnEventBecomesTheWishOnceFromItsSecondAlsoAfterItsMinute) {
    struct Case {
        int day, hour, minute, second;
        bool due;
    } cases[] = {
        {7, 8, 29, 59, false}, {7, 8, 30, 0, true},   {7, 8, 30, 59, true}, {7, 8, 31, 0, true},
        {7, 9, 30, 0, true},   {14, 8, 30, 10, true}, {7, 8, 0, 30, false},
    };
    for (const auto& c : cases) {
        Executor e;
        e.state().NextEvent = "2 083000 3";
        e.state().LastEvent = "2 080000 5";
        e.watchingSince(7, 8, 29, 0);
        e.at(c.day, c.hour, c.minute, c.second);
        e.tick();
        const std::int64_t dueAt = civilSeconds(c.day == 14 ? 14 : 7, 8, 30, 0);
        const std::pair<int, std::int64_t> expected =
            c.due ? std::pair<int, std::int64_t>{3, dueAt} : std::pair<int, std::int64_t>{5, 0};
        EXPECT_EQ(e.wish(), expected)
            << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
        EXPECT_EQ(e.state().CurrentSource, c.due ? 3 : 5);
        e.state().ScheduledWish.source = 5;       // as if anything else had been wished since
        e.at(c.day, c.hour, c.minute, c.second);  // before the switch's two seconds
        e.tick();
        EXPECT_EQ(e.wish().first, 5) << "fires once";
    }
}

TEST(EventExecutor, TheLatestOwedEventWinsAndANewerOrderOutranksIt) {
    Executor e;
    e.state().LastEvent = "2 083000 3";
    e.state().NextEvent = "2 083020 4";
    e.watchingSince(7, 8, 29, 0);
    e.at(7, 8, 30, 30);
    ASSERT_TRUE(e.tick());
    EXPECT_EQ(e.state().CurrentSource, 4);

    Executor later;
    later.state().NextEvent = "2 083000 3";
    later.watchingSince(7, 8, 29, 0);
    later.at(7, 8, 30, 10);
    later.finish(apiSwitch(later.station, "9"));  // asked for after the event's second
    EXPECT_FALSE(later.tick());
    EXPECT_EQ(later.wish().first, 3);
    EXPECT_EQ(later.state().CurrentSource, 9);
}

TEST(EventExecutor, EventOfTheSourceAlreadyPlayingSwitchesNothing) {
    Executor e;
    e.state().LastEvent = "2 080000 3";
    ASSERT_TRUE(e.tick());
    e.state().NextEvent = "2 083000 3";
    e.at(7, 8, 30, 0);
    EXPECT_FALSE(e.tick());
    EXPECT_EQ(e.display().lblSourceNumber.caption, "3");
    EXPECT_EQ(e.display().lblSourceDisp.caption, "3");
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
    e.state().ScheduledWish.source = 7;
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
        e.state().ScheduledWish.source = 5;
        e.state().NextEvent = next;
        e.at(7, 8, 30, 0);
        e.tick();
        EXPECT_EQ(e.wish().first, 5) << next;
    }
    // A due event whose source is not a digit asks for source 0.
    Executor e;
    e.state().ScheduledWish.source = 5;
    e.state().NextEvent = "2 083000 a";
    e.watchingSince(7, 8, 29, 0);
    e.at(7, 8, 30, 0);
    e.tick();
    EXPECT_EQ(e.wish().first, 0);
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
