#include "scheduler/event_calculation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "station/time_format.h"
#include "support/fake_station.h"

namespace kestrel {
namespace {

using test::FakeStation;

struct At {
    int day;  // of December 2026: 7 is a Monday, 12 a Saturday, 13 a Sunday
    int hour;
    int minute;
    int second;
};

struct Case {
    const char* name;
    At at;
    std::string file;
    std::string nextBefore;
    std::string lastBefore;
    std::string expectedLast;
    std::string expectedNext;
};

void calculate(FakeStation& f, const Case& c) {
    f.clock.set(2026, 12, c.at.day, c.at.hour, c.at.minute, c.at.second);
    f.write(kScheduleFile, c.file);
    f.state().NextEvent = c.nextBefore;
    f.state().LastEvent = c.lastBefore;
    tmrLoadEventsAndCalculate(f.station);
}

TEST(EventCalculation, FindsLastAndNextEventAsTheScheduleRulesSay) {
    const std::string none = kNoEvent;
    const Case cases[] = {
        {"empty file", {7, 10, 0, 0}, "", none, none, none, none},
        {"comments only", {7, 10, 0, 0}, ";2 083000 3\r\n;\r\n", none, none, none, none},
        {"one event passed, one ahead",
         {7, 10, 0, 0},
         "2 083000 3\r\n2 120000 4\r\n",
         none,
         none,
         "2 083000 3",
         "2 120000 4"},
        {"latest passed and earliest ahead win",
         {7, 10, 0, 0},
         "2 070000 1\r\n2 150000 5\r\n2 090000 2\r\n2 120000 4\r\n",
         none,
         none,
         "2 090000 2",
         "2 120000 4"},
        {"trailing blank makes 11 characters",
         {7, 10, 0, 0},
         "2 083000 3 \r\n",
         none,
         none,
         none,
         none},
        {"second character not a blank", {7, 10, 0, 0}, "22083000 3\r\n", none, none, none, none},
        {"nine-character time", {7, 10, 0, 0}, "2 80000 3\r\n", none, none, none, none},
        {"separator is not checked",
         {7, 10, 0, 0},
         "2 083000x3\r\n",
         none,
         none,
         "2 083000 3",
         none},
        {"source stays a character",
         {7, 10, 0, 0},
         "2 120000 a\r\n",
         none,
         none,
         none,
         "2 120000 a"},
        {"same weekday and time twice: the first wins",
         {8, 9, 0, 0},
         "3 120000 4\r\n3 120000 5\r\n",
         none,
         none,
         none,
         "3 120000 4"},
        {"an event at this very second is neither",
         {7, 10, 0, 0},
         "2 100000 3\r\n",
         none,
         none,
         none,
         none},
        {"weekdays outside 1 to 7 never match",
         {7, 10, 0, 0},
         "0 090000 1\r\n8 110000 2\r\n9 110000 3\r\nx 110000 4\r\n",
         none,
         none,
         none,
         none},
        {"Saturday is followed by Sunday",
         {12, 23, 30, 0},
         "1 070000 6\r\n7 230000 2\r\n1 060000 5\r\n",
         none,
         none,
         "7 230000 2",
         "1 060000 5"},
        {"first of tomorrow only when nothing is left today",
         {7, 23, 0, 0},
         "3 070000 4\r\n3 060000 5\r\n2 220000 1\r\n",
         none,
         none,
         "2 220000 1",
         "3 060000 5"},
        {"today's next beats tomorrow's first",
         {7, 10, 0, 0},
         "3 060000 5\r\n2 230000 1\r\n",
         none,
         none,
         none,
         "2 230000 1"},
        {"nothing today or tomorrow keeps both",
         {7, 23, 0, 0},
         "5 060000 5\r\n",
         "2 220000 1",
         "2 220000 1",
         "2 220000 1",
         "2 220000 1"},
        {"freeze minute leaves both",
         {7, 8, 30, 20},
         "2 083000 3\r\n2 090000 4\r\n",
         "2 083000 3",
         "2 080000 1",
         "2 080000 1",
         "2 083000 3"},
        {"freeze compares HHMM whatever the weekday",
         {8, 8, 30, 20},
         "3 090000 4\r\n",
         "2 083000 3",
         none,
         none,
         "2 083000 3"},
        {"after the freeze minute the fired event is last",
         {7, 8, 31, 0},
         "2 083000 3\r\n2 090000 4\r\n",
         "2 083000 3",
         "2 080000 1",
         "2 083000 3",
         "2 090000 4"},
        {"start-up inside a minute with two events",
         {7, 8, 30, 10},
         "2 083000 3\r\n2 083030 4\r\n",
         none,
         none,
         "2 083000 3",
         "2 083030 4"},
        {"the later of two events in a held minute is passed over",
         {7, 8, 31, 0},
         "2 083000 3\r\n2 083030 4\r\n2 100000 5\r\n",
         "2 083000 3",
         none,
         "2 083030 4",
         "2 100000 5"},
        {"LF line ends",
         {7, 10, 0, 0},
         "2 083000 3\n2 120000 4\n",
         none,
         none,
         "2 083000 3",
         "2 120000 4"},
        {"lone CR line ends",
         {7, 10, 0, 0},
         "2 083000 3\r2 120000 4\r",
         none,
         none,
         "2 083000 3",
         "2 120000 4"},
        {"last line without an end",
         {7, 10, 0, 0},
         "2 083000 3\r\n2 120000 4",
         none,
         none,
         "2 083000 3",
         "2 120000 4"},
        {"digits after a non-digit in the time are dropped",
         {7, 10, 0, 0},
         "2 0a3000 3\r\n",
         none,
         none,
         "2 000000 3",
         none},
    };
    for (const auto& c : cases) {
        FakeStation f;
        calculate(f, c);
        EXPECT_EQ(f.state().LastEvent, c.expectedLast) << c.name;
        EXPECT_EQ(f.state().NextEvent, c.expectedNext) << c.name;
        EXPECT_EQ(f.display().lblLastEvent.caption, "Last Switch: " + c.expectedLast) << c.name;
        EXPECT_EQ(f.display().lblNextEvent.caption, nextEventCaption(c.expectedNext)) << c.name;
    }
}

TEST(EventCalculation, CaptionsNameTheDayAndShowTheSixDigits) {
    const std::pair<std::string, std::string> cases[] = {
        {"1 060000 5", "Next switch on Sun at 060000 to source 5"},
        {"2 083000 3", "Next switch on Mon at 083000 to source 3"},
        {"3 120000 4", "Next switch on Tus at 120000 to source 4"},
        {"4 000000 0", "Next switch on Wed at 000000 to source 0"},
        {"5 235959 9", "Next switch on Thu at 235959 to source 9"},
        {"6 101010 1", "Next switch on Fri at 101010 to source 1"},
        {"7 230000 2", "Next switch on Sat at 230000 to source 2"},
        {"X XXXXXX X", "Next switch on Error at XXXXXX to source X"},
        {"", "Next switch on Error at  to source "},
        {"2 0830", "Next switch on Mon at 0830 to source "},
    };
    for (const auto& [event, caption] : cases)
        EXPECT_EQ(nextEventCaption(event), caption);
}

TEST(EventCalculation, MissingOrUnreadableFileKeepsEventsAndRefreshesCaptions) {
    for (const bool asDirectory : {false, true}) {
        FakeStation f;
        if (asDirectory) std::filesystem::create_directory(f.dir.path() / kScheduleFile);
        f.state().LastEvent = "2 070000 1";
        f.state().NextEvent = "2 120000 4";
        f.display().lblNextEvent.caption = "emergency text";
        tmrLoadEventsAndCalculate(f.station);
        EXPECT_EQ(f.state().LastEvent, "2 070000 1");
        EXPECT_EQ(f.state().NextEvent, "2 120000 4");
        EXPECT_EQ(f.display().lblLastEvent.caption, "Last Switch: 2 070000 1");
        EXPECT_EQ(f.display().lblNextEvent.caption, "Next switch on Mon at 120000 to source 4");
    }
}

TEST(EventCalculation, AnEditIsReadOnTheNextRun) {
    FakeStation f;
    f.write(kScheduleFile, "2 120000 4\r\n");
    tmrLoadEventsAndCalculate(f.station);
    EXPECT_EQ(f.state().NextEvent, "2 120000 4");
    f.write(kScheduleFile, "2 090000 6\r\n");
    tmrLoadEventsAndCalculate(f.station);
    EXPECT_EQ(f.state().NextEvent, "2 090000 6");
}

TEST(EventCalculation, GarbageFilesLeaveWellFormedEventTexts) {
    std::mt19937 random(7);
    std::string bytes;
    for (int i = 0; i < 1 << 20; ++i)
        bytes.push_back(static_cast<char>(random() & 0xff));
    std::string manyLines;
    for (int i = 0; i < 200000; ++i) {
        manyLines += std::to_string(1 + i % 7) + " " + zeroPadded((i * 37) % 240000, 6) + " " +
                     std::to_string(i % 10) + "\r\n";
        if (i % 3 == 0) manyLines += std::string(i % 40, static_cast<char>('!' + i % 90)) + "\n";
    }
    // Short lines of every shape around the filter's limits.
    const std::string alphabet = "0123456789 ;xX\t-+\xff";
    std::string shapes;
    for (int i = 0; i < 20000; ++i) {
        const auto length = random() % 14;
        for (unsigned j = 0; j < length; ++j)
            shapes += alphabet[random() % alphabet.size()];
        shapes += i % 2 ? "\r\n" : "\n";
    }
    for (const std::string* file : {&bytes, &manyLines, &shapes}) {
        FakeStation f;
        f.write(kScheduleFile, *file);
        for (int run = 0; run < 3; ++run) {
            tmrLoadEventsAndCalculate(f.station);
            f.clock.advanceSeconds(3600 * 7 + 13);
            for (const std::string* event : {&f.state().LastEvent, &f.state().NextEvent}) {
                EXPECT_EQ(event->size(), 10u) << *event;
                EXPECT_EQ((*event)[1], ' ');
                EXPECT_EQ((*event)[8], ' ');
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
