#include "monitoring/failure_detector.h"

#include "platform/station_command.h"
#include "station/station_events.h"
#include "station/time_format.h"
#include "station/waits.h"

namespace kestrel {
namespace {

constexpr std::int16_t kMostCountedFailures = 3;

Task<bool> serverAnswers(UrlFetcher& fetcher, std::string url) {
    try {
        // Any HTTP answer with a body means the server is up, whatever its status.
        const FetchResult result = co_await fetchFresh(fetcher, std::move(url), BodyForm::Text);
        co_return result.ok && !result.body.empty();
    } catch (...) {
        co_return false;
    }
}

void stopBothPlayers(Station& station) {
    station.run(StopPlayer{1});
    station.run(StopPlayer{2});
}

void onFailedCheck(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    if (state.LinkFailCount < kMostCountedFailures) ++state.LinkFailCount;
    display.lblFail.background = kRed;
    if (state.LinkFailCount == 1) {
        display.lblFailText.caption = "SERVER OR LINK FAILURE - FIRST CHECK";
    } else if (state.LinkFailCount == 2) {
        display.lblFailText.caption = "SERVER OR LINK FAILURE at " + formatTime(station.now());
        if (state.SilenceFlag == 0) {
            state.LinkStoredSource = display.lblCurrentSource.caption;
            state.SilenceFlag = 1;
            state.LinkSource = state.CurrentSource;
            recordFailureDeclared(station);
            stopBothPlayers(station);
        }
    }
}

void onSuccessfulCheck(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    display.lblFail.background = kGreen;
    display.lblFailText.caption = "SERVER OK";
    if (state.LinkFailCount == 0) return;
    recordFailureRecovered(station);
    // With both players stopped, the watchdog and the event executor restart the watched source.
    display.lblCurrentSource.caption = state.LinkStoredSource;
    state.SilenceFlag = 0;
    state.LinkFailCount = 0;
    state.WasPlaying = state.LinkSource;
    state.CurrentSource = state.LinkSource;
    stopBothPlayers(station);
}

}  // namespace

std::string testAddressOf(const std::string& streamAddress) {
    std::string result;
    int slashes = 0;
    for (char c : streamAddress) {
        if (c == '/') ++slashes;
        if (slashes >= 3) break;
        result.push_back(c);
    }
    return result + "/testonline/";
}

Task<> tmrSourceCheck(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    display.lblFailCheckTime.caption = formatTime(station.now());

    std::string watched = state.LinkStoredSource;
    if (state.SilenceFlag == 0) {
        state.LinkStoredSource = display.lblCurrentSource.caption;
        state.LinkSource = state.CurrentSource;
        watched = state.LinkStoredSource;
    }
    const std::string testAddress = testAddressOf(watched);
    display.lblFailURL.caption = testAddress;

    const bool answered = co_await serverAnswers(station.platform.InetTestURL, testAddress);
    // Players are stopped and state changed only between switches, as before.
    auto turn = co_await station.switching.take();
    if (answered) {
        onSuccessfulCheck(station);
    } else {
        onFailedCheck(station);
    }
}

}  // namespace kestrel
