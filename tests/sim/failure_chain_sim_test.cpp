#include <gtest/gtest.h>

#include <set>

#include "playback/orders.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kStream4 = "http://four.example:8000/live";
constexpr const char* kStream0 = "http://zero.example:8000/backup";
constexpr const char* kStream2 = "http://two.example:8000/live";
constexpr const char* kTest4 = "http://four.example:8000/testonline/";

std::string start(int slot, const std::string& url) {
    const std::string n = std::to_string(slot);
    return "cmd /c mplayer" + n + ".exe " + url + " -quiet >mplayer" + n + ".log";
}
std::string stop(int slot) {
    return "taskkill /f /im mplayer" + std::to_string(slot) + ".exe";
}

/// A station with the detector on, source 4 scheduled since 07:00 and played
/// in slot 1 from the first second; each server answers while it is up.
struct Chain {
    explicit Chain(bool backupHasAddress = true) {
        host.write("kestrelfield.ini", "[Kestrelfield]\r\nCheckSource=1\r\n");
        std::string sources =
            std::string("4n:Four\r\n4u:") + kStream4 + "\r\n2n:Two\r\n2u:" + kStream2 + "\r\n";
        if (backupHasAddress) sources += std::string("0n:Backup\r\n0u:") + kStream0 + "\r\n";
        host.write("sourcelist.ini", sources);
        host.write("sourceevents.ini", "2 070000 4\r\n");
        host.sourceCheckFetcher.respond = [this](const std::string& url) {
            return serversUp.count(url) ? FakeFetcher::ok("OK") : FakeFetcher::failed();
        };
        host.start();
        host.runFor(0.5);
    }

    /// Runs in small steps until the detector has made `count` checks in all.
    void runUntilCheck(int count) {
        while (host.fired["tmrSourceCheck"] < count)
            host.runFor(0.05);
    }
    /// Commands issued from the `before`th on (by default from now), while running `seconds`.
    std::vector<std::string> commandsDuring(double seconds, std::size_t before = ~0u) {
        if (before == ~0u) before = host.players.commands().size();
        host.runFor(seconds);
        const auto all = host.players.commands();
        return {all.begin() + static_cast<long>(before), all.end()};
    }

    SimHost host;
    std::set<std::string> serversUp;
};

TEST(FailureChain, FallsBackToSourceZeroAndRecoversTheFailedSource) {
    Chain c;
    auto& state = c.host.state();
    auto& display = c.host.display();
    c.host.runFor(3);
    ASSERT_EQ(state.CurrentSource, 4);
    ASSERT_TRUE(c.host.players.isRunning(1));

    c.runUntilCheck(1);
    EXPECT_EQ(display.lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK");
    EXPECT_TRUE(c.host.players.isRunning(1));

    const auto beforeDeclared = c.host.players.commands().size();
    c.runUntilCheck(2);
    EXPECT_EQ(display.lblFailText.caption,
              "SERVER OR LINK FAILURE at " + display.lblFailCheckTime.caption);
    EXPECT_EQ(state.SilenceFlag, 1);
    EXPECT_TRUE(c.host.players.isRunning(1));  // the failed stream plays until source 0 does

    // The backup starts in the other slot at once, then the first slot stops.
    EXPECT_EQ(c.commandsDuring(3.5, beforeDeclared),
              (std::vector<std::string>{start(2, kStream0), stop(1)}));
    EXPECT_EQ(state.CurrentSource, 0);
    EXPECT_EQ(state.LinkSource, 4);
    EXPECT_EQ(display.lblCurrentSource.caption, kStream0);

    c.runUntilCheck(3);
    EXPECT_EQ(c.host.sourceCheckFetcher.requests.back().url, kTest4);
    EXPECT_EQ(state.LinkFailCount, 3);
    EXPECT_TRUE(c.host.players.isRunning(2));

    c.serversUp.insert(kTest4);
    const auto beforeRecovered = c.host.players.commands().size();
    c.runUntilCheck(4);
    EXPECT_EQ(display.lblFailText.caption, "SERVER OK");
    EXPECT_EQ(display.lblFail.background, kGreen);
    EXPECT_EQ(state.SilenceFlag, 0);

    // The return is a switch like any other: source 0 plays until source 4 does.
    EXPECT_EQ(c.commandsDuring(3.5, beforeRecovered),
              (std::vector<std::string>{start(1, kStream4), stop(2)}));
    EXPECT_EQ(state.CurrentSource, 4);
    EXPECT_EQ(display.lblCurrentSource.caption, kStream4);
    c.host.runFor(20);
    EXPECT_EQ(state.CurrentSource, 4);
    EXPECT_TRUE(c.host.players.isRunning(1));
    EXPECT_EQ(c.host.read("error.log"), "<missing>");
    EXPECT_EQ(display.lblFailText.caption, "SERVER OK");

    // The journal tells the story in order, and the counts agree.
    const std::string journal = c.host.journal.str();
    std::size_t at = 0;
    for (const char* event :
         {"event=switch cause=schedule source=4 ", "event=failure_declared source=4 test_url=",
          "event=switch cause=failover source=0 slot=2 ",
          "event=failure_recovered source=4 declared=true failed_checks=3",
          "event=switch cause=recovery source=4 slot=1 "}) {
        at = journal.find(event, at);
        ASSERT_NE(at, std::string::npos) << event << "\n" << journal;
    }
    const auto& counters = c.host.station().counters;
    EXPECT_EQ(counters.failovers, 1u);
    EXPECT_EQ(counters.playerRestarts, 0u);
    EXPECT_EQ(counters.switchesBy(SwitchCause::Recovery), 1u);
}

// A check counts for the source it tested only, and one failed check
// followed by a success touches no player.
TEST(FailureChain, ChecksCountOnlyForTheSourceTheyTested) {
    const struct {
        const char* what;
        bool switchBetween;  ///< the management server orders source 2 after the first check
        bool secondUp;
        std::int16_t failCount, silenceFlag, onAir;
    } cases[] = {
        {"a transient failure", false, true, 0, 0, 4},
        {"a failure on 4, then one on 2", true, false, 1, 0, 2},
        {"two failures on 4", false, false, 2, 1, 0},
    };
    for (const auto& c : cases) {
        Chain chain;
        chain.runUntilCheck(1);
        if (c.switchBetween) chain.host.finish(remoteSwitch(chain.host.station(), "2"));
        if (c.secondUp) chain.serversUp.insert(kTest4);
        const auto before = chain.host.players.commands().size();
        chain.runUntilCheck(2);
        chain.host.runFor(4);
        const auto& state = chain.host.state();
        EXPECT_EQ(state.LinkFailCount, c.failCount) << c.what;
        EXPECT_EQ(state.SilenceFlag, c.silenceFlag) << c.what;
        EXPECT_EQ(state.CurrentSource, c.onAir) << c.what;
        if (c.secondUp) {
            EXPECT_EQ(chain.host.players.commands().size(), before)
                << c.what << ": no player touched";
        }
        EXPECT_EQ(chain.host.read("error.log"), "<missing>") << c.what;
        EXPECT_EQ(chain.host.station().counters.playerRestarts, 0u) << c.what;
    }
}

TEST(FailureChain, WithoutABackupAddressTheFailedStreamKeepsPlaying) {
    Chain c(false);
    c.host.runFor(3);
    const auto before = c.host.players.commands().size();
    c.runUntilCheck(2);
    EXPECT_EQ(c.commandsDuring(3.5, before),
              (std::vector<std::string>{start(2, kStream4), stop(1)}));
    EXPECT_EQ(c.host.state().CurrentSource, 0);
    c.runUntilCheck(3);
    EXPECT_EQ(c.host.sourceCheckFetcher.requests.back().url, kTest4);
}

TEST(FailureChain, AnOperatorSwitchEndsTheDeclaredFailure) {
    Chain c;
    c.runUntilCheck(2);
    c.host.runFor(3.5);
    ASSERT_EQ(c.host.state().CurrentSource, 0);

    c.host.display().comboSourceList.text = "2 Select Source number 2";
    c.host.controller->cmdForceSwitch_Click();
    c.host.runFor(5);
    EXPECT_EQ(c.host.state().CurrentSource, 2);
    EXPECT_EQ(c.host.state().SilenceFlag, 0);
    EXPECT_EQ(c.host.state().LinkFailCount, 0);

    c.runUntilCheck(3);
    EXPECT_EQ(c.host.sourceCheckFetcher.requests.back().url, "http://two.example:8000/testonline/");
    EXPECT_EQ(c.host.display().lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK");
}

}  // namespace
}  // namespace kestrel
