#include "controller/station_controller.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::SimHost;

std::vector<std::string> enabledTimers(const Station& station) {
    std::vector<std::string> names;
    for (const auto& timer : station.timers.timers()) {
        if (timer.enabled) names.push_back(timer.name);
    }
    return names;
}

TEST(StartUp, IssuesTheFiveCommandsInOrderMinimised) {
    SimHost host;
    host.start();
    const std::vector<std::string> expected = {
        "taskkill /f /im mplayer1.exe", "taskkill /f /im mplayer2.exe", "cmd /c del mplayer.log",
        "cmd /c del metadata.txt",      "cmd /c del metaextra.txt",
    };
    const auto& issued = host.players.issued();
    ASSERT_GE(issued.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(issued[i].command, expected[i]);
        EXPECT_EQ(issued[i].style, WindowStyle::MinimisedWithFocus);
    }
}

TEST(StartUp, DeletesStaleOutputFilesButNotTheSlotLogs) {
    SimHost host;
    for (const char* name : {"mplayer.log", "metadata.txt", "metaextra.txt", "mplayer1.log"}) {
        host.write(name, "old");
    }
    host.start();
    EXPECT_FALSE(host.dir.exists("mplayer.log"));
    EXPECT_FALSE(host.dir.exists("metadata.txt"));
    EXPECT_FALSE(host.dir.exists("metaextra.txt"));
    EXPECT_TRUE(host.dir.exists("mplayer1.log"));
}

TEST(StartUp, WithoutConfigurationEveryOptionalFeatureStaysOff) {
    SimHost host;
    host.start();
    const auto& d = host.display();
    const auto& s = host.state();
    EXPECT_EQ(d.lblMetadataOutput.caption, host.dir.path().string());
    EXPECT_EQ(s.ExtraMetaNowPlaying, host.dir.path().string());
    EXPECT_EQ(d.lblConfigurationStatus.caption, "Management Server Disabled");
    EXPECT_EQ(d.lblAPIstatus.caption, "API Interface Disabled");
    EXPECT_EQ(d.lblTuneInAir.caption, "TuneIn AIR Service Disabled");
    EXPECT_EQ(d.lblWeather.caption, "WEATHER NOT ENABLED");
    EXPECT_EQ(d.lblFailText.caption, "DISABLED");
    EXPECT_EQ(d.lblFailURL.caption, "NONE");
    EXPECT_EQ(d.lblFailCheckTime.caption, "NONE");
    EXPECT_EQ(d.lblMplayer1.caption, "");
    EXPECT_EQ(d.lblMplayer2.caption, "");
    EXPECT_EQ(d.lblSilence.caption, "");
    EXPECT_EQ(s.CurrentSource, -1);
    EXPECT_EQ(s.WasPlaying, -1);
    EXPECT_EQ(s.NextEvent, "X XXXXXX X");
    EXPECT_EQ(host.apiWindowShown, 0);
    const std::vector<std::string> expected = {
        "tmrCounter",        "tmrUpdateDisplay",          "tmrClockandEventCheck",
        "tmrGetMetadata",    "tmrLoadEventsAndCalculate", "tmrCheckAndDoEvents",
        "tmrCheckMplayerOK", "tmrCheckPlayers",           "tmrReadLevels",
    };
    EXPECT_EQ(enabledTimers(host.station()), expected);
}

TEST(StartUp, ConfigurationTurnsFeaturesOn) {
    struct Case {
        std::string config;
        std::string timer;  // expected on; empty: none of the optional timers
        bool apiWindow;
    } cases[] = {
        {"APIallowed= 1 \r\n", "", true},
        {"APIallowed=Y\r\n", "", false},
        {"APIallowed=true\r\n", "", false},
        {"APIallowed=01\r\n", "", false},
        {"ManagementUpdate=5\r\n", "tmrManagementDownload", false},
        {"ManagementUpdate=0\r\n", "", false},
        {"ManagementUpdate=-3\r\n", "", false},
        {"ManagementUpdate=abc\r\n", "", false},
        {"CheckForChanges=1\r\n", "tmrCheckForChanges", false},
        {"CheckForChanges=2\r\n", "", false},
        {"AIRenable=1\r\n", "tmrAirUpdate", false},
        {"MetaWeather=1\r\n", "tmrWeather", false},
        {"MetaWeather=yes\r\n", "", false},
        {"CheckSource=1\r\n", "tmrSourceCheck", false},
    };
    const std::set<std::string> optional = {"tmrManagementDownload", "tmrCheckForChanges",
                                            "tmrAirUpdate", "tmrWeather", "tmrSourceCheck"};
    for (const auto& c : cases) {
        SimHost host;
        host.write("kestrelfield.ini", "[Kestrelfield]\r\n" + c.config);
        host.start();
        std::vector<std::string> on;
        for (const auto& name : enabledTimers(host.station())) {
            if (optional.count(name)) on.push_back(name);
        }
        EXPECT_EQ(on,
                  c.timer.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.timer})
            << c.config;
        EXPECT_EQ(host.apiWindowShown, c.apiWindow ? 1 : 0) << c.config;
        const auto& d = host.display();
        if (c.timer == "tmrManagementDownload") {
            EXPECT_EQ(d.lblConfigurationStatus.caption, "Management server configured");
        }
        if (c.apiWindow) {
            EXPECT_EQ(d.lblAPIstatus.caption, "API Interface Enabled");
        }
        if (c.timer == "tmrAirUpdate") {
            EXPECT_EQ(d.lblTuneInAir.caption, "TuneIn AIR Service Enabled");
        }
        if (c.timer == "tmrWeather") {
            EXPECT_EQ(d.lblWeather.caption, "NO WEATHER");
        }
        if (c.timer == "tmrSourceCheck") {
            EXPECT_EQ(d.lblFailText.caption, "WAITING");
            EXPECT_EQ(d.lblFailCheckTime.caption, "NONE");
            EXPECT_EQ(d.lblFailURL.caption, "PERFORMING INITIAL CHECKS");
        }
    }
}

TEST(StartUp, ReadsEveryKeyIntoItsVariable) {
    SimHost host;
    host.write("kestrelfield.ini",
               "[Kestrelfield]\r\nDefaultStrapline=" + std::string(200, 's') +
                   "\r\nExtraMetaNowPlaying=Now playing:\r\nManagementUpdate=2.5\r\n"
                   "ManagementSendURL=http://m/send\r\nManagementURL=http://m/get\r\n"
                   "ManagementKey=k\r\nManagementSwitcher=sw\r\nCheckForChanges=3.5\r\n"
                   "CheckForChangeURL=http://m/poll\r\nAPIKey=secret\r\nAIRenable=1\r\n"
                   "AIRid=s1\r\nAIRpartnerid=p\r\nAIRpartnerKey=pk\r\nAIRdefaultTitle=T\r\n"
                   "AIRdefaultArtist=A\r\nDoNotPrefixWhenContains=News\r\nMetaWeather=1\r\n"
                   "MetaOpenWeatherMapKey=owm\r\nMetaLocation=Leeds\r\n");
    host.start();
    const auto& s = host.state();
    EXPECT_EQ(host.display().lblMetadataOutput.caption, std::string(119, 's'));
    EXPECT_EQ(s.ExtraMetaNowPlaying, "Now playing:");
    EXPECT_EQ(s.ManagementUpdate, 2);
    EXPECT_EQ(s.CheckForChanges, 4);
    EXPECT_EQ(s.ManagementSendURL, "http://m/send");
    EXPECT_EQ(s.ManagementURL, "http://m/get");
    EXPECT_EQ(s.ManagementKey, "k");
    EXPECT_EQ(s.ManagementSwitcher, "sw");
    EXPECT_EQ(s.CheckForChangeURL, "http://m/poll");
    EXPECT_EQ(s.APIkey, "secret");
    EXPECT_EQ(s.AIRid, "s1");
    EXPECT_EQ(s.AIRpartnerid, "p");
    EXPECT_EQ(s.AIRpartnerkey, "pk");
    EXPECT_EQ(s.AIRdefaultTitle, "T");
    EXPECT_EQ(s.AIRdefaultArtist, "A");
    EXPECT_EQ(s.DoNotPrefixWhenContains, "News");
    EXPECT_EQ(s.MetaOpenWeatherMapKey, "owm");
    EXPECT_EQ(s.MetaLocation, "Leeds");
}

TEST(StartUp, SwitchTimeoutIsSecondsFromTwoToSixHundredElseTen) {
    const std::pair<const char*, int> cases[] = {
        {"", 10},   {"4", 4},     {" 25 ", 25},         {"1", 2},
        {"0", 10},  {"601", 600}, {"99999999999", 600}, {"2.5", 2},
        {"3.7", 4}, {"-3", 10},   {"ten", 10}};
    for (const auto& [value, expected] : cases) {
        SimHost host;
        host.write("kestrelfield.ini", "[Kestrelfield]\r\nSwitchTimeout=" + std::string(value));
        host.start();
        EXPECT_EQ(host.state().SwitchTimeout, expected) << value;
    }
}

TEST(StartUp, SilenceLevelAndSecondsAreHeldInBoundsAndZeroSecondsIsOff) {
    const struct {
        const char* value;
        int level, seconds;
    } cases[] = {
        {"", -40, 15}, {"loud", -40, 15},  {"-50", -50, 2},
        {"0", -10, 0}, {"-200", -90, 2},   {"20.4", -10, 20},
        {"1", -10, 2}, {" 900", -10, 600}, {"-45.6dB", -46, 2},
    };
    for (const auto& c : cases) {
        SimHost host;
        host.write("kestrelfield.ini", "[Kestrelfield]\r\nSilenceLevel=" + std::string(c.value) +
                                           "\r\nSilenceSeconds=" + c.value + "\r\n");
        host.start();
        EXPECT_EQ(host.state().SilenceLevel, c.level) << c.value;
        EXPECT_EQ(host.state().SilenceSeconds, c.seconds) << c.value;
    }
    SimHost absent;
    absent.start();
    EXPECT_EQ(absent.state().SilenceLevel, -40);
    EXPECT_EQ(absent.state().SilenceSeconds, 15);
}

TEST(StartUp, FillsTheSelectorWithTenFixedItems) {
    SimHost host;
    host.write("sourcelist.ini", "1n:One\r\n1u:http://one/\r\n");
    host.start();
    const auto& combo = host.display().comboSourceList;
    ASSERT_EQ(combo.items.size(), 10u);
    for (int n = 0; n < 10; ++n) {
        const auto digit = std::to_string(n);
        EXPECT_EQ(combo.items[n], digit + " Select Source number " + digit);
    }
    EXPECT_EQ(combo.text, "Select Source for Forced Manual Switch");
}

TEST(StartUp, CompletesWhateverTheConfigurationFileHolds) {
    std::mt19937 random(7);
    std::string randomBytes(64 * 1024, '\0');
    for (auto& c : randomBytes)
        c = static_cast<char>(random());
    std::string manyLines;
    for (int i = 0; i < 100000; ++i)
        manyLines += "Key" + std::to_string(i) + "=value\r\n";
    const std::string longLines =
        "[Kestrelfield]\r\nDefaultStrapline=" + std::string(1 << 20, 'x') + "\r\n" +
        std::string(1 << 20, '[') + "\r\nAPIallowed=1\r\n";
    const std::string cases[] = {randomBytes, "[Kestrelfield]\r\n" + manyLines + "APIallowed=1\r\n",
                                 longLines, "APIallowed=1\r\nDefaultStrapline=x\r\n", ""};
    for (const auto& config : cases) {
        SimHost host;
        host.write("kestrelfield.ini", config);
        host.start();
        host.runFor(30);
        EXPECT_EQ(host.state().TimerCount, host.fired["tmrCounter"]);
        EXPECT_GT(host.state().TimerCount, 20);
    }
    SimHost host;
    host.write("kestrelfield.ini", "[Kestrelfield]\r\nAPIallowed=1\r\n");
    EXPECT_EQ(host.display().lblMetadataOutput.caption, "None");
    host.start();
    EXPECT_EQ(host.apiWindowShown, 1);
    EXPECT_EQ(host.display().lblMetadataOutput.caption, host.dir.path().string());
}

TEST(StartUp, UnreadableConfigurationReadsAsAbsent) {
    SimHost host;
    std::filesystem::create_directory(host.dir.path() / "kestrelfield.ini");
    host.start();
    EXPECT_EQ(host.display().lblMetadataOutput.caption, host.dir.path().string());
    EXPECT_EQ(host.display().lblFailText.caption, "DISABLED");
}

TEST(Housekeeping, TimerCountRunsToOneHundredTwentyThenZero) {
    SimHost host;
    host.start();
    host.controller->cmdAutoManual();  // no switch, whose pause would swallow ticks
    host.runFor(120);
    EXPECT_EQ(host.state().TimerCount, 120);
    host.runFor(1);
    EXPECT_EQ(host.state().TimerCount, 0);
    host.runFor(1);
    EXPECT_EQ(host.state().TimerCount, 1);
}

TEST(Housekeeping, DisplayShowsSlotAndLamp) {
    SimHost host;
    host.start();
    host.runFor(0.25);
    EXPECT_EQ(host.display().lblMplayer.caption, "None");
    EXPECT_EQ(host.display().lblStatus.caption, "STOP");
    EXPECT_EQ(host.display().lblStatus.background, kRed);
    EXPECT_EQ(host.display().lblStatus2.background, kRed);
    host.state().CurrentMplayer = 2;
    host.runFor(0.25);
    EXPECT_EQ(host.display().lblMplayer.caption, "2");
    EXPECT_EQ(host.display().lblStatus.caption, "PLAY");
    EXPECT_EQ(host.display().lblStatus.background, kGreen);
    EXPECT_EQ(host.display().lblStatus2.background, kGreen);
}

TEST(OperatorCommands, ModeButtonTogglesTheEventExecutor) {
    SimHost host;
    host.start();
    auto& button = host.display().cmdAutoManual;
    host.controller->cmdAutoManual();
    EXPECT_EQ(button.caption, "MANUAL");
    EXPECT_EQ(button.background, kRed);
    EXPECT_FALSE(host.station().timers.isEnabled("tmrCheckAndDoEvents"));
    host.controller->cmdAutoManual();
    EXPECT_EQ(button.caption, "AUTOMATIC");
    EXPECT_EQ(button.background, kGreen);
    EXPECT_TRUE(host.station().timers.isEnabled("tmrCheckAndDoEvents"));
}

TEST(OperatorCommands, FullScreenToggles) {
    SimHost host;
    host.start();
    host.controller->cmdFullScreen();
    EXPECT_EQ(host.state().MinMax, 1);
    EXPECT_EQ(host.display().cmdFullScreen.caption, "NORMAL");
    EXPECT_TRUE(host.maximised);
    host.controller->cmdFullScreen();
    EXPECT_EQ(host.state().MinMax, 0);
    EXPECT_EQ(host.display().cmdFullScreen.caption, "FULL SCREEN");
    EXPECT_FALSE(host.maximised);
}

TEST(OperatorCommands, ViewAndEndCommands) {
    struct Case {
        void (StationController::*command)();
        std::vector<std::string> commands;
        WindowStyle style;
        int ends;
    } cases[] = {
        {&StationController::cmdViewSource,
         {"notepad sourcelist.ini"},
         WindowStyle::NormalWithFocus,
         0},
        {&StationController::cmdViewEvents,
         {"notepad sourceevents.ini"},
         WindowStyle::NormalWithFocus,
         0},
        {&StationController::cmdEnd, {}, WindowStyle::MinimisedWithFocus, 1},
        {&StationController::windowClosed, {}, WindowStyle::MinimisedWithFocus, 1},
        {&StationController::cmdTerminate,
         {"taskkill /f /im mplayer1.exe", "taskkill /f /im mplayer2.exe"},
         WindowStyle::MinimisedWithFocus,
         1},
    };
    for (const auto& c : cases) {
        SimHost host;
        host.start();
        host.players.clearIssued();
        (host.controller.get()->*c.command)();
        EXPECT_EQ(host.players.commands(), c.commands);
        for (const auto& issued : host.players.issued())
            EXPECT_EQ(issued.style, c.style);
        EXPECT_EQ(host.endRequests, c.ends);
    }
}

// An event loop whose waits end early, as a timer rounded down might.
class EarlyLoop final : public EventLoop {
public:
    explicit EarlyLoop(test::FakeClock& clock) : m_clock(clock) {}
    CallId callAfter(double seconds, Callback callback) override {
        ++waits;
        m_clock.advanceSeconds(seconds > 0.3 ? 0.3 : seconds);
        callback();
        return waits;
    }
    void cancelCall(CallId) override {}
    void watch(int, bool, bool, std::function<void(bool, bool)>) override {}
    void unwatch(int) override {}
    int waits = 0;

private:
    test::FakeClock& m_clock;
};

TEST(Pause, ReturnsOnlyAfterTheWholeInterval) {
    test::FakeWorld world;
    world.clock.setMs(1000700);  // just before a second boundary
    EarlyLoop loop(world.clock);
    Platform platform = world.platform();
    Station station(Platform{platform.clock, platform.runner, platform.processes, loop,
                             platform.airFetcher, platform.weatherFetcher,
                             platform.sourceCheckFetcher, platform.managementFetcher,
                             platform.changePollFetcher, platform.statusReportFetcher, "."});
    const double start = world.clock.steadySeconds();
    const auto pause = station.Pause(2);
    EXPECT_TRUE(pause.done());
    EXPECT_GE(world.clock.steadySeconds() - start, 2.0);
    EXPECT_LT(world.clock.steadySeconds() - start, 2.0 + 1e-9);
    EXPECT_EQ(loop.waits, 7);
}

TEST(Pause, MeasuresElapsedTimeAcrossMidnight) {
    SimHost host;
    host.clock.set(2026, 12, 7, 23, 59, 59);
    const auto pause = host.station().Pause(2);
    EXPECT_FALSE(pause.done()) << "the pause waits on the loop";
    host.runFor(2);
    EXPECT_TRUE(pause.done());
    const auto now = host.clock.now();
    EXPECT_EQ(now.day, 8);
    EXPECT_EQ(now.second, 1);
}

}  // namespace
}  // namespace kestrel
