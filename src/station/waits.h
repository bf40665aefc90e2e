#pragma once

#include <string>

#include "platform/event_loop.h"
#include "platform/url_fetcher.h"
#include "station/waiting.h"

namespace kestrel {

/// Waits `seconds` on the event loop while every other handler runs.
inline WaitFor<Done> sleepOn(EventLoop& loop, double seconds) {
    auto call = std::make_shared<EventLoop::CallId>(0);
    return WaitFor<Done>(
        [&loop, seconds, call](Completion<Done> done) {
            *call = loop.callAfter(seconds, [done] { done(Done{}); });
        },
        [&loop, call] { loop.cancelCall(*call); });
}

/// The station's way of fetching: busy query, cancel only when busy, then
/// the request; the caller waits for its answer without holding the thread.
inline WaitFor<FetchResult> fetchFresh(UrlFetcher& fetcher, std::string url, BodyForm form) {
    return WaitFor<FetchResult>(
        [&fetcher, url = std::move(url), form](Completion<FetchResult> done) {
            if (fetcher.busy()) fetcher.cancel();
            fetcher.start(url, form, [done](FetchResult result) { done(std::move(result)); });
        },
        [&fetcher] {
            if (fetcher.busy()) fetcher.cancel();
        });
}

}  // namespace kestrel
