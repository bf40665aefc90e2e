#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "api/http_message.h"
#include "api/web_sessions.h"
#include "station/station.h"

namespace kestrel {

/// The control room's requests on the API's port: every path under
/// /control. Pages and status.json are read with a session or with the key
/// in the address ("?id=KEY"); every change is a POST that carries a session
/// and its CSRF token, and no GET changes anything. A login takes the key
/// and sets an HttpOnly, SameSite=Strict session cookie. The key never
/// appears in a page.
class ControlRoom {
public:
    /// Body bound of a request without a session (a login, a refused order).
    static constexpr std::size_t kSmallBody = 16 * 1024;
    /// Body bound of a request with a session: an edited file.
    static constexpr std::size_t kLargeBody = 512 * 1024;
    static constexpr const char* kCookie = "kestrel_session";

    explicit ControlRoom(Station& station, std::function<std::string()> newToken = randomToken);

    /// Whether `text` begins a control room request: "GET /control" or
    /// "POST /control".
    static bool isRequest(std::string_view text);
    /// Whether `text` is one, or the beginning of one.
    static bool mayBecomeRequest(std::string_view text);

    /// How much of a control room request has arrived; a body beyond
    /// kSmallBody is taken only from a session.
    RequestArrival arrival(std::string_view text);

    struct Answer {
        std::string path;   ///< the request's path, for the API window's line
        std::string bytes;  ///< the whole response
    };
    /// Answers a request whose arrival is not Partial, from `client` (its
    /// address). Never throws: a failure answers 500.
    Answer answer(std::string_view text, const std::string& client);

    WebSessions& sessions() { return m_sessions; }

private:
    struct Visit;
    std::string route(const HttpRequest& request, const std::string& client);
    std::string order(const HttpRequest& request, const Visit& visit, const std::string& client);
    std::string login(const HttpRequest& request, const std::string& client);
    std::string save(const HttpRequest& request, const Visit& visit, const std::string& client);
    const WebSessions::Session* sessionOf(const HttpRequest& request);
    double now() const;

    Station& m_station;
    WebSessions m_sessions;
};

}  // namespace kestrel
