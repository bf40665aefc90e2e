#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/url_fetcher.h"

namespace kestrel::test {

class FakeClock;

/// A scripted URL fetcher: `respond` decides each answer (default: the
/// request fails as with no server). Records every request; a delay advances
/// the virtual clock as a slow server would.
class FakeFetcher final : public UrlFetcher {
public:
    struct Request {
        std::string url;
        BodyForm form;
    };

    explicit FakeFetcher(FakeClock* clock = nullptr) : m_clock(clock) {}

    bool busy() const override { return busyAnswer; }
    void cancel() override { ++cancels; }
    FetchResult fetch(const std::string& url, BodyForm form) override;

    std::vector<std::string> urls() const;

    std::function<FetchResult(const std::string& url)> respond;
    double delaySeconds = 0;       ///< each fetch takes this long
    double totalDelaySeconds = 0;  ///< virtual time all fetches so far took
    bool busyAnswer = false;
    int cancels = 0;
    std::vector<Request> requests;

    static FetchResult ok(std::string body, int status = 200);
    static FetchResult failed(std::string error = "could not connect");

private:
    FakeClock* m_clock;
};

}  // namespace kestrel::test
