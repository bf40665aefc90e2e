#include "monitoring/failure_detector.h"

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

// What was on air when a check began: its answer is about that source only.
struct OnAir {
    std::int16_t source;
    std::string address;

    static OnAir of(const Station& station) {
        return {station.state.CurrentSource, station.display.lblCurrentSource.caption};
    }
    bool operator==(const OnAir&) const = default;
};

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
            // The reconciler now puts source 0 on air by the normal switch;
            // the failed stream plays on until then, as it often still flows.
            recordFailureDeclared(station);
            station.factsChanged();
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
    const bool declared = state.SilenceFlag == 1;
    state.SilenceFlag = 0;
    state.LinkFailCount = 0;
    // Without a declared failure the source on air never left: nothing to do.
    // Else the reconciler switches back to the failed source, which takes
    // over from source 0 once it plays.
    if (!declared) return;
    state.RecoveryPending = true;
    station.factsChanged();
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

    const OnAir tested = OnAir::of(station);
    const bool answered = co_await serverAnswers(station.platform.sourceCheckFetcher, testAddress);
    // An answer about a source that has left the air since is no news about
    // the one on air now.
    if (!(OnAir::of(station) == tested)) co_return;
    if (answered) {
        onSuccessfulCheck(station);
    } else {
        onFailedCheck(station);
    }
}

}  // namespace kestrel
