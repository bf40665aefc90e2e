#pragma once

#include <string>

namespace kestrel {

/// How the caller wants the body. Both arrive byte for byte in a std::string;
/// the form records which one the station asked for.
enum class BodyForm { Text, Bytes };

struct FetchResult {
    bool ok = false;    ///< false: no connection, bad URL, time-out, cancelled
    int status = 0;     ///< HTTP status when ok
    std::string body;   ///< response body when ok
    std::string error;  ///< description when not ok

    bool isSuccessStatus() const { return ok && status >= 200 && status < 300; }
};

/// One HTTP GET at a time (an "Inet" instance of the station).
class UrlFetcher {
public:
    virtual ~UrlFetcher() = default;

    /// True while an earlier request is still carried.
    virtual bool busy() const = 0;

    /// Abandons the request still carried, if any.
    virtual void cancel() = 0;

    /// Blocking GET of an absolute http:// URL. Port 80 unless the URL names
    /// one; fails after the instance's time-out (60 s on a real station).
    virtual FetchResult fetch(const std::string& url, BodyForm form) = 0;
};

}  // namespace kestrel

namespace kestrel {

/// The station's way of fetching: busy query, cancel only when busy, then fetch.
inline FetchResult fetchFresh(UrlFetcher& fetcher, const std::string& url, BodyForm form) {
    if (fetcher.busy()) fetcher.cancel();
    return fetcher.fetch(url, form);
}

}  // namespace kestrel
