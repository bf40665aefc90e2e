#include "monitoring/failure_detector.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

#include "playback/orders.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kStream4 = "http://four.example:8000/live/high";
constexpr const char* kTest4 = "http://four.example:8000/testonline/";
constexpr const char* kStream0 = "http://zero.example:8000/backup";

/// A station on air with source 4, its test server answering from a script.
struct Detector {
    Detector() {
        host.display().lblCurrentSource.caption = kStream4;
        host.state().CurrentSource = 4;
        host.sourceCheckFetcher.respond = [this](const std::string&) {
            if (answers.empty()) return FakeFetcher::failed();
            auto next = answers.front();
            answers.pop_front();
            return next;
        };
    }

    /// One check, 15 s after the previous one.
    void check(FetchResult answer) {
        host.clock.advanceSeconds(15);
        answers.push_back(std::move(answer));
        host.players.clearIssued();
        host.finish(tmrSourceCheck(host.station()));
    }
    void fail() { check(FakeFetcher::failed()); }
    void succeed() { check(FakeFetcher::ok("up")); }

    /// What the reconciler does with a declared failure: source 0 on air.
    void playFallback() {
        host.display().lblCurrentSource.caption = kStream0;
        host.state().CurrentSource = 0;
    }

    SimHost host;
    std::deque<FetchResult> answers;
};

TEST(FailureDetector, TestAddressKeepsSchemeAndHostOnly) {
    const struct {
        const char* stream;
        const char* expected;
    } cases[] = {
        {"http://host:8000/a/b/c.mp3", "http://host:8000/testonline/"},
        {"http://host:8000", "http://host:8000/testonline/"},
        {"http://host:8000/", "http://host:8000/testonline/"},
        {"hostonly", "hostonly/testonline/"},
        {"None", "None/testonline/"},
        {"", "/testonline/"},
        {"a/b/c/d", "a/b/c/testonline/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testAddressOf(c.stream), c.expected) << c.stream;
}

TEST(FailureDetector, OnlyANonEmptyBodyIsASuccess) {
    const struct {
        FetchResult answer;
        bool up;
    } cases[] = {
        {FakeFetcher::ok("x"), true},
        {FakeFetcher::ok("Not Found", 404), true},
        {FakeFetcher::ok("", 200), false},
        {FakeFetcher::failed("time-out"), false},
    };
    for (const auto& c : cases) {
        Detector d;
        d.check(c.answer);
        EXPECT_EQ(d.host.display().lblFail.background, c.up ? kGreen : kRed) << c.answer.body;
        EXPECT_EQ(d.host.state().LinkFailCount, c.up ? 0 : 1);
    }
}

TEST(FailureDetector, AThrowingFetcherCountsAsAFailedCheck) {
    Detector d;
    d.host.sourceCheckFetcher.respond = [](const std::string&) -> FetchResult {
        throw std::runtime_error("boom");
    };
    d.host.finish(tmrSourceCheck(d.host.station()));
    EXPECT_EQ(d.host.state().LinkFailCount, 1);
    EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK");
}

TEST(FailureDetector, FetchesTheTestAddressAsTextCancellingABusyRequest) {
    Detector d;
    d.host.sourceCheckFetcher.busyAnswer = true;
    d.succeed();
    ASSERT_EQ(d.host.sourceCheckFetcher.requests.size(), 1u);
    EXPECT_EQ(d.host.sourceCheckFetcher.requests[0].url, kTest4);
    EXPECT_EQ(d.host.sourceCheckFetcher.requests[0].form, BodyForm::Text);
    EXPECT_EQ(d.host.sourceCheckFetcher.cancels, 1);
    EXPECT_EQ(d.host.display().lblFailURL.caption, kTest4);
    EXPECT_EQ(d.host.display().lblFailCheckTime.caption, "08:00:15");
}

TEST(FailureDetector, TwoFailuresDeclareAndASuccessRecovers) {
    Detector d;
    auto& state = d.host.state();
    auto& display = d.host.display();

    d.fail();
    EXPECT_EQ(display.lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK");
    EXPECT_EQ(display.lblFail.background, kRed);
    EXPECT_EQ(state.SilenceFlag, 0);
    EXPECT_TRUE(d.host.players.commands().empty());

    d.fail();
    EXPECT_EQ(display.lblFailText.caption, "SERVER OR LINK FAILURE at 08:00:30");
    EXPECT_EQ(display.lblFailCheckTime.caption, "08:00:30");
    EXPECT_EQ(state.LinkFailCount, 2);
    EXPECT_EQ(state.SilenceFlag, 1);
    EXPECT_EQ(state.LinkStoredSource, kStream4);
    EXPECT_EQ(state.LinkSource, 4);
    EXPECT_TRUE(d.host.players.commands().empty());  // the executor switches to source 0

    d.playFallback();
    d.succeed();
    EXPECT_EQ(d.host.sourceCheckFetcher.requests.back().url, kTest4);  // still the failed server
    EXPECT_EQ(display.lblFailText.caption, "SERVER OK");
    EXPECT_EQ(display.lblFail.background, kGreen);
    EXPECT_EQ(state.SilenceFlag, 0);
    EXPECT_EQ(state.LinkFailCount, 0);
    // Source 0 plays on until the switch back has source 4 playing.
    EXPECT_EQ(display.lblCurrentSource.caption, kStream0);
    EXPECT_EQ(state.CurrentSource, 0);
    EXPECT_TRUE(state.RecoveryPending);
    EXPECT_TRUE(d.host.players.commands().empty());
}

TEST(FailureDetector, FurtherFailuresChangeNothingMore) {
    Detector d;
    d.fail();
    d.fail();
    d.playFallback();
    for (int i = 0; i < 2; ++i) {
        d.fail();
        EXPECT_TRUE(d.host.players.commands().empty());
        EXPECT_EQ(d.host.state().LinkFailCount, 3);
        EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OR LINK FAILURE at 08:00:30");
        EXPECT_EQ(d.host.state().LinkStoredSource, kStream4);
        EXPECT_EQ(d.host.sourceCheckFetcher.requests.back().url, kTest4);
    }
}

TEST(FailureDetector, OneFailureThenSuccessOnlyResetsTheCount) {
    Detector d;
    d.fail();
    d.succeed();
    EXPECT_TRUE(d.host.players.commands().empty());
    EXPECT_EQ(d.host.state().WasPlaying, -1);
    EXPECT_EQ(d.host.state().CurrentSource, 4);
    EXPECT_EQ(d.host.state().LinkFailCount, 0);
    EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OK");
    EXPECT_FALSE(d.host.state().RecoveryPending);
}

TEST(FailureDetector, AnAnswerAboutASourceThatLeftTheAirIsDropped) {
    const struct {
        const char* name;
        std::int16_t sourceMeanwhile;
        const char* addressMeanwhile;
    } cases[] = {
        {"another source", 2, "http://two.example/stream"},
        {"the same number at another address", 4, "http://four.example:8000/live/low"},
        {"nothing on air", -1, kStream4},
    };
    for (const auto& c : cases) {
        for (const bool up : {false, true}) {
            Detector d;
            d.fail();
            d.host.sourceCheckFetcher.delaySeconds = 5;
            d.answers.push_back(up ? FakeFetcher::ok("up") : FakeFetcher::failed());
            auto check = tmrSourceCheck(d.host.station());
            d.host.state().CurrentSource = c.sourceMeanwhile;
            d.host.display().lblCurrentSource.caption = c.addressMeanwhile;
            d.host.finish(check);
            EXPECT_EQ(d.host.state().LinkFailCount, 1) << c.name << up;
            EXPECT_EQ(d.host.state().SilenceFlag, 0) << c.name << up;
            EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK")
                << c.name << up;
        }
    }
}

TEST(FailureDetector, SuccessOnEveryTickChangesNothingElse) {
    Detector d;
    for (int i = 0; i < 3; ++i)
        d.succeed();
    EXPECT_TRUE(d.host.players.commands().empty());
    EXPECT_EQ(d.host.state().WasPlaying, -1);
    EXPECT_EQ(d.host.state().LinkFailCount, 0);
    EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OK");
}

TEST(FailureDetector, OperatorSwitchDuringADeclaredFailureWatchesTheNewSource) {
    Detector d;
    d.host.write("sourcelist.ini", "2n:Two\r\n2u:http://two.example/stream\r\n");
    d.fail();
    d.fail();
    d.playFallback();
    d.host.display().comboSourceList.text = "2 Select Source number 2";
    d.host.finish(cmdForceSwitch_Click(d.host.station()));
    EXPECT_EQ(d.host.state().SilenceFlag, 0);
    EXPECT_EQ(d.host.state().LinkFailCount, 0);

    d.fail();
    EXPECT_EQ(d.host.sourceCheckFetcher.requests.back().url, "http://two.example/testonline/");
    EXPECT_EQ(d.host.state().LinkSource, 2);
    EXPECT_EQ(d.host.display().lblFailText.caption, "SERVER OR LINK FAILURE - FIRST CHECK");
}

}  // namespace
}  // namespace kestrel
