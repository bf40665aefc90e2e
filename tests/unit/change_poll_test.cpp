#include "management/change_poll.h"

#include <gtest/gtest.h>

#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kPollUrl = "http://mgmt.example/changes.php?key=K1&switcher=studio";
constexpr const char* kStream1 = "http://one.example/live";
constexpr const char* kStream3 = "http://three.example/live";

/// Source 1 on air in slot 1; the poll answers `answer`.
struct Poll {
    explicit Poll(FetchResult answer) {
        host.write("sourcelist.ini", std::string("1n:One\r\n1u:") + kStream1 +
                                         "\r\n3n:Three\r\n3u:" + kStream3 + "\r\n");
        auto& s = host.state();
        s.CheckForChangeURL = "http://mgmt.example/changes.php";
        s.ManagementKey = "K1";
        s.ManagementSwitcher = "studio";
        s.CurrentSource = 1;
        s.CurrentMplayer = 1;
        host.display().lblCurrentSource.caption = kStream1;
        host.display().lblStudio.caption = "One";
        host.changePollFetcher.respond = [answer](const std::string&) { return answer; };
    }

    void tick() {
        host.players.clearIssued();
        host.finish(tmrCheckForChanges(host.station()));
    }

    SimHost host;
};

TEST(ChangePoll, AsksWithTheQueryFormAsText) {
    Poll p(FakeFetcher::failed());
    p.host.changePollFetcher.busyAnswer = true;
    p.tick();
    ASSERT_EQ(p.host.changePollFetcher.requests.size(), 1u);
    EXPECT_EQ(p.host.changePollFetcher.requests[0].url, kPollUrl);
    EXPECT_EQ(p.host.changePollFetcher.requests[0].form, BodyForm::Text);
    EXPECT_EQ(p.host.changePollFetcher.cancels, 1);
}

TEST(ChangePoll, ADigitSwitchesThroughTheSharedProcedure) {
    Poll p(FakeFetcher::ok("3"));
    p.tick();
    EXPECT_EQ(p.host.display().lblNextEvent.caption, "EMERGENCY SWITCH TO 3");
    EXPECT_EQ(p.host.state().CurrentSource, 3);
    EXPECT_EQ(p.host.players.commands().front(),
              std::string("cmd /c mplayer2.exe ") + kStream3 + " -quiet >mplayer2.log");
}

TEST(ChangePoll, AnythingButALeadingDigitFromAGoodAnswerOrdersNothing) {
    const struct {
        const char* name;
        FetchResult answer;
    } cases[] = {
        {"empty", FakeFetcher::ok("")},
        {"letter", FakeFetcher::ok("x")},
        {"unreachable", FakeFetcher::failed()},
        {"error page", FakeFetcher::ok("404 page not found", 404)},
        {"server error", FakeFetcher::ok("3", 500)},
    };
    for (const auto& c : cases) {
        Poll p(c.answer);
        p.tick();
        EXPECT_TRUE(p.host.players.commands().empty()) << c.name;
        EXPECT_EQ(p.host.display().lblNextEvent.caption, "No Event Next") << c.name;
        EXPECT_EQ(p.host.state().CurrentSource, 1) << c.name;
    }
}

// The answer is trimmed; a key of no listed source, or of the source that
// plays already, switches nothing and is journalled.
TEST(ChangePoll, AnswersAreTrimmedAndOnlyAListedOtherSourceSwitches) {
    const struct {
        const char* answer;
        int onAir;
        const char* journalled;
    } cases[] = {
        {"3\r\n", 3, nullptr},
        {" 3 \t", 3, nullptr},
        {"5", 1, "event=management_order_ignored key=5 reason=no_such_source"},
        {"99999", 1, "event=management_order_ignored key=99999 reason=no_such_source"},
        {"1\r\n", 1, "event=management_order_ignored key=1 reason=already_on_air"},
    };
    for (const auto& c : cases) {
        Poll p(FakeFetcher::ok(c.answer));
        p.host.players.run(StartPlayer{1, kStream1}, WindowStyle::MinimisedWithFocus);
        p.tick();
        EXPECT_EQ(p.host.state().CurrentSource, c.onAir) << c.answer;
        EXPECT_EQ(p.host.players.commands().empty(), c.journalled != nullptr) << c.answer;
        if (c.journalled) {
            EXPECT_NE(p.host.journal.str().find(c.journalled), std::string::npos) << c.answer;
        }
    }
}

}  // namespace
}  // namespace kestrel
