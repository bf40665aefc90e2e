#include "support/fake_fetcher.h"

#include "support/fake_clock.h"

namespace kestrel::test {

FetchResult FakeFetcher::fetch(const std::string& url, BodyForm form) {
    requests.push_back({url, form});
    if (m_clock && delaySeconds > 0) {
        m_clock->sleepFor(delaySeconds);
        totalDelaySeconds += delaySeconds;
    }
    return respond ? respond(url) : failed();
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
