#pragma once

#include <functional>
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

/// One HTTP GET at a time (an "Inet" instance of the station). Requests run
/// while the station goes on; their answers arrive on the station's thread.
class UrlFetcher {
public:
    using Done = std::function<void(FetchResult)>;

    virtual ~UrlFetcher() = default;

    /// True while an earlier request is still carried.
    virtual bool busy() const = 0;

    /// Abandons the request still carried, if any: its `done` is called at
    /// once with a failed result.
    virtual void cancel() = 0;

    /// Starts a GET of an absolute http:// URL (port 80 unless the URL names
    /// one) and returns. `done` is called once with the answer or the failure,
    /// at the latest after the instance's time-out (60 s on a real station).
    /// Starting while busy is the caller's fault; call cancel() first.
    virtual void start(const std::string& url, BodyForm form, Done done) = 0;
};

}  // namespace kestrel
