#pragma once

#include <memory>

#include "platform/url_fetcher.h"

namespace kestrel {

/// A blocking HTTP GET on libcurl, one request at a time.
class CurlFetcher final : public UrlFetcher {
public:
    explicit CurlFetcher(long timeoutSeconds = 60);
    ~CurlFetcher() override;

    bool busy() const override;
    void cancel() override;
    FetchResult fetch(const std::string& url, BodyForm form) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kestrel
