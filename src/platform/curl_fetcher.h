#pragma once

#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/url_fetcher.h"

namespace kestrel {

/// Runs the transfers of every CurlFetcher from the station's event loop with
/// libcurl's multi-socket interface: no threads, and nothing ever blocks.
/// Outlives its fetchers.
class CurlMulti {
public:
    explicit CurlMulti(EventLoop& loop);
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    struct Impl;

private:
    friend class CurlFetcher;
    std::unique_ptr<Impl> m_impl;
};

/// An HTTP GET on libcurl, one request at a time. Any HTTP answer is a result
/// (404 and 500 with their bodies too); no connection, a bad URL, a time-out,
/// a cancel or an oversized body are errors. Redirects are not followed;
/// only http:// and https:// are fetched, so a configured address can never
/// read local files. Proxies come from http_proxy/no_proxy as curl reads them.
class CurlFetcher final : public UrlFetcher {
public:
    /// `timeoutSeconds` bounds a whole request (60 on a station).
    explicit CurlFetcher(CurlMulti& multi, long timeoutSeconds = 60);
    ~CurlFetcher() override;
    CurlFetcher(const CurlFetcher&) = delete;
    CurlFetcher& operator=(const CurlFetcher&) = delete;

    bool busy() const override;
    void cancel() override;
    void start(const std::string& url, BodyForm form, Done done) override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

/// Largest body a fetch accepts; a server sending more gets an error instead.
inline constexpr std::size_t kMaxFetchBody = 16 * 1024 * 1024;

/// `url` with blanks, control characters, bytes >= 0x80, '"' and '#'
/// percent-encoded, so a request line never breaks and nothing is cut off as
/// a fragment; everything else, "&=?/%" included, goes out as configured.
std::string encodeForRequestLine(const std::string& url);

}  // namespace kestrel
