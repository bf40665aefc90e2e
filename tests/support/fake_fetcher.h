#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/url_fetcher.h"

namespace kestrel::test {

/// A scripted URL fetcher: `respond` decides each answer (default: the
/// request fails as with no server). Records every request. A delay makes
/// the answer come that much later on the event loop, as a slow server's
/// would; without a loop the answer comes at once.
class FakeFetcher final : public UrlFetcher {
public:
    struct Request {
        std::string url;
        BodyForm form;
    };

    explicit FakeFetcher(EventLoop* loop = nullptr) : m_loop(loop) {}

    bool busy() const override { return busyAnswer || m_pending; }
    void cancel() override;
    void start(const std::string& url, BodyForm form, Done done) override;

    std::vector<std::string> urls() const;

    std::function<FetchResult(const std::string& url)> respond;
    double delaySeconds = 0;       ///< each answer comes this long after its request
    double totalDelaySeconds = 0;  ///< delays of all requests so far
    bool busyAnswer = false;
    int cancels = 0;
    std::vector<Request> requests;

    static FetchResult ok(std::string body, int status = 200);
    static FetchResult failed(std::string error = "could not connect");

private:
    EventLoop* m_loop;
    bool m_pending = false;
    EventLoop::CallId m_call = 0;
    Done m_done;
};

}  // namespace kestrel::test
