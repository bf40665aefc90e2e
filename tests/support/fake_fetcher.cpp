#include "support/fake_fetcher.h"

#include <utility>

namespace kestrel::test {

void FakeFetcher::start(const std::string& url, BodyForm form, Done done) {
    requests.push_back({url, form});
    FetchResult result = respond ? respond(url) : failed();
    if (!m_loop || delaySeconds <= 0) {
        done(std::move(result));
        return;
    }
    totalDelaySeconds += delaySeconds;
    m_pending = true;
    m_done = std::move(done);
    m_call = m_loop->callAfter(delaySeconds, [this, result = std::move(result)]() mutable {
        m_pending = false;
        std::exchange(m_done, {})(std::move(result));
    });
}

void FakeFetcher::cancel() {
    ++cancels;
    if (!m_pending) return;
    m_loop->cancelCall(m_call);
    m_pending = false;
    std::exchange(m_done, {})(failed("request cancelled"));
}

std::vector<std::string> FakeFetcher::urls() const {
    std::vector<std::string> result;
    for (const auto& request : requests)
        result.push_back(request.url);
    return result;
}

FetchResult FakeFetcher::ok(std::string body, int status) {
    FetchResult result;
    result.ok = true;
    result.status = status;
    result.body = std::move(body);
    return result;
}

FetchResult FakeFetcher::failed(std::string error) {
    FetchResult result;
    result.error = std::move(error);
    return result;
}

}  // namespace kestrel::test
