#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "controller/station_controller.h"
#include "platform/station_command.h"
#include "scheduler/event_calculation.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::civilToMs;
using test::SimHost;

std::string sourceList() {
    std::string file = "; every source of the test station\r\n";
    for (int n = 0; n <= 9; ++n) {
        const std::string digit = std::to_string(n);
        file += digit + "n:Source " + digit + "\r\n" + digit + "u:http://s" + digit +
                ".example:8000/live\r\n";
    }
    return file;
}

std::string urlOf(int source) {
    return "http://s" + std::to_string(source) + ".example:8000/live";
}

struct Switch {
    std::int64_t atMs;
    std::string url;
    bool operator==(const Switch&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Switch& s) {
    return out << s.url << " at " << s.atMs;
}

/// December 2026: the 7th is a Monday.
std::int64_t at(int day, int hour, int minute, int second) {
    return civilToMs(2026, 12, day, hour, minute, second);
}

/// A station on virtual time with the ten sources, whose commands carry their times.
struct Sim : SimHost {
    explicit Sim(const std::string& schedule, int day = 7, int hour = 8, int minute = 0,
                 int second = 0) {
        players.clock = &clock;
        clock.set(2026, 12, day, hour, minute, second);
        write("sourcelist.ini", sourceList());
        write(kScheduleFile, schedule);
    }

    /// Every player start so far.
    std::vector<Switch> switches() const {
        std::vector<Switch> result;
        for (const auto& issued : players.issued()) {
            if (const auto* start = std::get_if<StartPlayer>(&issued.what)) {
                result.push_back({issued.atMs, start->address});
            }
        }
        return result;
    }
    void runUntil(int day, int hour, int minute, int second) {
        SimHost::runUntil(2026, 12, day, hour, minute, second);
    }
    void operatorSwitch(int source) {
        display().comboSourceList.text =
            std::to_string(source) + " Select Source number " + std::to_string(source);
        controller->cmdForceSwitch_Click();
    }
};

TEST(SchedulerSim, AWeekOfEventsFiresEachOnceAtItsSecond) {
    // A week rewrites the metadata files some 60,000 times: keep them in
    // memory where the machine allows.
    if (!std::getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    Sim sim(
        "2 083015 3\r\n2 120000 5\r\n3 064559 1\r\n4 000000 2\r\n; Thursday is quiet\r\n"
        "6 235930 7\r\n7 101010 4\r\n1 070000 6\r\n2 080000 8\r\n");
    sim.start();
    sim.runUntil(14, 8, 10, 0);
    const std::vector<Switch> expected = {
        {at(7, 8, 0, 1), urlOf(9)},     {at(7, 8, 30, 15), urlOf(3)},
        {at(7, 12, 0, 0), urlOf(5)},    {at(8, 6, 45, 59), urlOf(1)},
        {at(9, 0, 0, 0), urlOf(2)},     {at(11, 23, 59, 30), urlOf(7)},
        {at(12, 10, 10, 10), urlOf(4)}, {at(13, 7, 0, 0), urlOf(6)},
        {at(14, 8, 0, 0), urlOf(8)},
    };
    EXPECT_EQ(sim.switches(), expected);
    EXPECT_EQ(sim.state().CurrentSource, 8);
    EXPECT_EQ(sim.state().LastEvent, "2 080000 8");
    EXPECT_EQ(sim.display().lblLastEvent.caption, "Last Switch: 2 080000 8");
    EXPECT_EQ(sim.display().lblNextEvent.caption, "Next switch on Mon at 083015 to source 3");
    EXPECT_EQ(sim.display().lblClock.caption, "08:10:00");
    EXPECT_EQ(sim.display().lblDate.caption, "2026-12-14");
}

TEST(SchedulerSim, TwoEventsInOneMinuteBothFireEachOnItsSecond) {
    Sim sim("2 083020 3\r\n2 083040 4\r\n2 090000 5\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 45);
    EXPECT_EQ(sim.state().NextEvent, "2 083020 3");
    sim.runUntil(7, 8, 32, 0);
    const std::vector<Switch> expected = {
        {at(7, 8, 29, 1), urlOf(9)}, {at(7, 8, 30, 20), urlOf(3)}, {at(7, 8, 30, 40), urlOf(4)}};
    EXPECT_EQ(sim.switches(), expected);
    EXPECT_EQ(sim.state().NextEvent, "2 090000 5");
    EXPECT_EQ(sim.state().LastEvent, "2 083040 4");
}

// Stations whose schedules switch at the same second do so together: an event
// starts within a tenth of a second of its second, whatever the phase of the
// executor's one-second tick.
TEST(SchedulerSim, AnEventStartsWithinATenthOfItsSecondWhateverTheTickPhase) {
    for (const int phaseMs : {0, 450, 990}) {
        Sim sim("2 083020 3\r\n", 7, 8, 29, 0);
        sim.clock.advanceMs(phaseMs);
        sim.start();
        sim.runUntil(7, 8, 30, 30);
        ASSERT_EQ(sim.switches().size(), 2u) << phaseMs;
        const std::int64_t late = sim.switches()[1].atMs - at(7, 8, 30, 20);
        EXPECT_GE(late, 0) << phaseMs;
        EXPECT_LT(late, 100) << phaseMs;
    }
}

TEST(SchedulerSim, StartedInsideTheMinuteTakesThePassedEventThenTheNext) {
    Sim sim("2 083000 3\r\n2 083030 4\r\n", 7, 8, 30, 10);
    sim.start();
    sim.runUntil(7, 8, 32, 0);
    const std::vector<Switch> expected = {{at(7, 8, 30, 11), urlOf(3)},
                                          {at(7, 8, 30, 30), urlOf(4)}};
    EXPECT_EQ(sim.switches(), expected);
}

TEST(SchedulerSim, AnOperatorSwitchAfterTheEventsSecondReplacesIt) {
    Sim sim("2 083000 3\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 20);
    sim.operatorSwitch(5);
    sim.runFor(120);
    EXPECT_EQ(sim.state().CurrentSource, 5);
    const std::vector<Switch> expected = {
        {at(7, 8, 29, 1), urlOf(9)}, {at(7, 8, 30, 0), urlOf(3)}, {at(7, 8, 30, 20), urlOf(5)}};
    EXPECT_EQ(sim.switches(), expected);
}

TEST(SchedulerSim, ADueEventDuringADeclaredFailurePlaysAndEndsIt) {
    Sim sim("2 081000 4\r\n2 083000 3\r\n");
    sim.start();
    sim.runUntil(7, 8, 29, 59);
    ASSERT_EQ(sim.state().CurrentSource, 4);
    sim.state().SilenceFlag = 1;
    sim.runUntil(7, 8, 30, 0);
    EXPECT_EQ(sim.state().PendingSource, 3) << "on air once its player plays";
    sim.runUntil(7, 8, 32, 0);
    EXPECT_EQ(sim.state().CurrentSource, 3);
    EXPECT_EQ(sim.state().SilenceFlag, 0) << "the detector watches source 3 afresh";
    EXPECT_EQ(sim.switches().back(), (Switch{at(7, 8, 30, 0), urlOf(3)}));
}

TEST(SchedulerSim, SourceHandedBackByTheWatchdogRestartsInTheOtherSlot) {
    Sim sim("2 081000 4\r\n");
    sim.start();
    sim.runUntil(7, 8, 15, 0);
    ASSERT_EQ(sim.state().CurrentMplayer, 2);
    sim.state().WasPlaying = 4;
    sim.state().CurrentSource = -1;
    sim.runFor(3);
    EXPECT_EQ(sim.state().CurrentSource, 4);
    EXPECT_EQ(sim.state().WasPlaying, -1);
    EXPECT_EQ(sim.state().CurrentMplayer, 1);
    EXPECT_EQ(sim.players.issued().back().command, "taskkill /f /im mplayer2.exe");
    EXPECT_EQ(sim.switches().back(), (Switch{at(7, 8, 15, 1), urlOf(4)}));
}

TEST(SchedulerSim, ManualModeHaltsEveryAutomaticSwitchButNotTheOperators) {
    Sim sim("2 083000 3\r\n2 090000 5\r\n", 7, 8, 29, 0);
    sim.start();
    sim.controller->cmdAutoManual();
    ASSERT_EQ(sim.display().cmdAutoManual.caption, "MANUAL");
    sim.runUntil(7, 8, 29, 30);
    EXPECT_EQ(sim.state().CurrentSource, -1);
    sim.operatorSwitch(7);
    sim.state().WasPlaying = 2;
    sim.runFor(5);
    sim.state().SilenceFlag = 1;
    sim.runUntil(7, 8, 31, 0);
    EXPECT_EQ(sim.state().CurrentSource, 7);
    EXPECT_EQ(sim.state().LastEvent, "2 083000 3");
    EXPECT_EQ(sim.state().NextEvent, "2 090000 5");
    sim.state().SilenceFlag = 0;
    sim.state().WasPlaying = -1;
    sim.controller->cmdAutoManual();
    sim.runUntil(7, 9, 0, 30);
    const std::vector<Switch> expected = {{at(7, 8, 29, 30), urlOf(7)}, {at(7, 9, 0, 0), urlOf(5)}};
    EXPECT_EQ(sim.switches(), expected);
}

TEST(SchedulerSim, AScheduleEditTakesEffectWithinTenSeconds) {
    Sim sim("");
    sim.start();
    sim.runUntil(7, 8, 10, 3);
    sim.write(kScheduleFile, "2 081014 6\r\n");
    sim.runUntil(7, 8, 10, 30);
    EXPECT_EQ(sim.switches().back(), (Switch{at(7, 8, 10, 14), urlOf(6)}));
}

TEST(SchedulerSim, EveryTimerKeepsItsRhythmWhileASwitchOverlaps) {
    Sim sim("2 083000 3\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 0);
    ASSERT_EQ(sim.clock.ms(), at(7, 8, 30, 0)) << "the event's switch holds no clock";
    ASSERT_TRUE(sim.station().switching);
    const auto before = sim.fired;
    sim.runFor(1.95);
    EXPECT_TRUE(sim.station().switching) << "still in its overlap";
    const std::pair<const char*, int> ticks[] = {{timer::tmrClockandEventCheck, 19},
                                                 {timer::tmrUpdateDisplay, 7},
                                                 {timer::tmrCounter, 1},
                                                 {timer::tmrCheckAndDoEvents, 1}};
    for (const auto& [name, count] : ticks)
        EXPECT_EQ(sim.fired[name] - before.at(name), count) << name;
    sim.runFor(1.05);
    EXPECT_FALSE(sim.station().switching) << "the overlap, then a second's fade";
    EXPECT_EQ(sim.switches().size(), 2u);
}

// An event in the first seconds of a minute right after another event's
// minute fires on time, although the schedule reading still held the
// earlier one when the new minute began; so does one whose second is the
// very second of a schedule reading.
TEST(SchedulerSim, EventEarlyInTheMinuteAfterAnEventFiresOnTime) {
    Sim sim("2 093745 3\r\n2 093803 4\r\n2 093900 5\r\n", 7, 9, 37, 0);
    sim.start();
    sim.runUntil(7, 9, 39, 30);
    const std::vector<Switch> expected = {{at(7, 9, 37, 1), urlOf(9)},
                                          {at(7, 9, 37, 45), urlOf(3)},
                                          {at(7, 9, 38, 3), urlOf(4)},
                                          {at(7, 9, 39, 0), urlOf(5)}};
    EXPECT_EQ(sim.switches(), expected);
    EXPECT_EQ(sim.state().LastEvent, "2 093900 5");
}

TEST(SchedulerSim, GarbageScheduleFilesKeepTheStationRunning) {
    std::mt19937 random(11);
    std::string bytes;
    for (int i = 0; i < 1 << 20; ++i)
        bytes.push_back(static_cast<char>(random() & 0xff));
    std::string lines;
    for (int i = 0; i < 200000; ++i) {
        lines += std::to_string(i % 9) + " 0" + std::to_string(800000 + i % 200000).substr(1) +
                 " " + std::to_string(i % 10) + (i % 5 ? "\r\n" : "\n");
    }
    for (const std::string* schedule : {&bytes, &lines}) {
        Sim sim(*schedule);
        sim.start();
        sim.runFor(180);
        EXPECT_GE(sim.fired[timer::tmrLoadEventsAndCalculate], 15);
        EXPECT_GE(sim.state().CurrentSource, 0);
        EXPECT_LE(sim.state().CurrentSource, 9);
        EXPECT_EQ(sim.state().NextEvent.size(), 10u);
    }
}

}  // namespace
}  // namespace kestrel
