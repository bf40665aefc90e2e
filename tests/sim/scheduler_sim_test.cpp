#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <random>

#include "controller/station_controller.h"
#include "platform/command_line.h"
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
            const auto command = parseStationCommand(issued.command);
            if (!command) continue;
            if (const auto* start = std::get_if<StartPlayerCommand>(&*command)) {
                result.push_back({issued.atMs, start->url});
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

TEST(SchedulerSim, StartedBeforeAMinuteWithTwoEventsOnlyTheFirstFires) {
    Sim sim("2 083000 3\r\n2 083030 4\r\n2 090000 5\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 45);
    EXPECT_EQ(sim.state().NextEvent, "2 083000 3");
    sim.runUntil(7, 8, 32, 0);
    const std::vector<Switch> expected = {{at(7, 8, 29, 1), urlOf(9)}, {at(7, 8, 30, 0), urlOf(3)}};
    EXPECT_EQ(sim.switches(), expected);
    EXPECT_EQ(sim.state().NextEvent, "2 090000 5");
}

TEST(SchedulerSim, StartedInsideTheMinuteTakesThePassedEventThenTheNext) {
    Sim sim("2 083000 3\r\n2 083030 4\r\n", 7, 8, 30, 10);
    sim.start();
    sim.runUntil(7, 8, 32, 0);
    const std::vector<Switch> expected = {{at(7, 8, 30, 11), urlOf(3)},
                                          {at(7, 8, 30, 30), urlOf(4)}};
    EXPECT_EQ(sim.switches(), expected);
}

TEST(SchedulerSim, OperatorSwitchInsideTheEventMinuteIsRevertedButNotAfterIt) {
    Sim sim("2 083000 3\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 20);
    sim.operatorSwitch(5);
    EXPECT_EQ(sim.state().CurrentSource, 5);
    sim.runFor(1);
    EXPECT_EQ(sim.state().CurrentSource, 3);
    EXPECT_EQ(sim.switches().back(), (Switch{at(7, 8, 30, 22), urlOf(3)}));
    sim.runUntil(7, 8, 31, 0);
    sim.operatorSwitch(5);
    sim.runFor(120);
    EXPECT_EQ(sim.state().CurrentSource, 5);
    EXPECT_EQ(sim.switches().size(), 5u);
}

TEST(SchedulerSim, DueEventWinsOverTheFallbackForItsMinuteOnly) {
    Sim sim("2 081000 4\r\n2 083000 3\r\n");
    sim.start();
    sim.runUntil(7, 8, 29, 59);
    ASSERT_EQ(sim.state().CurrentSource, 4);
    sim.state().SilenceFlag = 1;
    sim.runUntil(7, 8, 30, 0);
    EXPECT_EQ(sim.state().CurrentSource, 3);
    EXPECT_EQ(sim.state().WasPlaying, 4);
    sim.runUntil(7, 8, 30, 59);
    EXPECT_EQ(sim.state().CurrentSource, 3);
    sim.runUntil(7, 8, 31, 0);
    EXPECT_EQ(sim.state().CurrentSource, 0);
    EXPECT_EQ(sim.switches().back(), (Switch{at(7, 8, 31, 0), urlOf(0)}));
}

TEST(SchedulerSim, SourceHandedBackByTheWatchdogRestartsInTheOtherSlot) {
    Sim sim("2 081000 4\r\n");
    sim.start();
    sim.runUntil(7, 8, 15, 0);
    ASSERT_EQ(sim.state().CurrentMplayer, 2);
    sim.state().WasPlaying = 4;
    sim.state().CurrentSource = -1;
    sim.runFor(1);
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

TEST(SchedulerSim, TicksDueWhileASwitchBlocksFireOnceAfterwards) {
    Sim sim("2 083000 3\r\n", 7, 8, 29, 0);
    sim.start();
    sim.runUntil(7, 8, 30, 0);
    ASSERT_EQ(sim.clock.ms(), at(7, 8, 30, 2));
    const auto before = sim.fired;
    sim.runFor(0);
    for (const char* name : {timer::tmrClockandEventCheck, timer::tmrUpdateDisplay,
                             timer::tmrCounter, timer::tmrCheckAndDoEvents}) {
        EXPECT_EQ(sim.fired[name] - before.at(name), 1) << name;
    }
    sim.runFor(0.95);
    EXPECT_EQ(sim.fired[timer::tmrClockandEventCheck] - before.at(timer::tmrClockandEventCheck),
              10);
    EXPECT_EQ(sim.fired[timer::tmrCheckAndDoEvents] - before.at(timer::tmrCheckAndDoEvents), 1);
    EXPECT_EQ(sim.switches().size(), 2u);
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
