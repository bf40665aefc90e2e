#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// 32 hexadecimal digits (128 bits) from the system's random source.
std::string randomToken();

/// The control room's logins, kept in memory only: a session lives 12 hours
/// from its login and carries its own token against forged requests. Login
/// tries are spaced: one per second per address. Times are steady seconds.
class WebSessions {
public:
    static constexpr double kLifetimeSeconds = 12 * 3600;
    static constexpr std::size_t kMostSessions = 64;
    static constexpr double kLoginSpacingSeconds = 1;
    static constexpr std::size_t kMostAddressesSpaced = 4096;

    struct Session {
        std::string token;  ///< the cookie's value
        std::string csrf;   ///< what every change must carry
        double expires = 0;
    };

    /// `newToken` makes the session and CSRF tokens.
    explicit WebSessions(std::function<std::string()> newToken = randomToken);

    /// Whether `client` may try a login now: not within a second of its last
    /// try. Counts this try. A table of spaced addresses that is full refuses
    /// every try until its oldest has aged.
    bool mayTryLogin(const std::string& client, double now);

    /// A new session from `now`; the one that expires first makes room when
    /// the table is full.
    const Session& open(double now);

    /// The live session whose token is `token`; nullptr when none.
    const Session* find(std::string_view token, double now);

    /// Ends the session whose token is `token`, if any.
    void close(std::string_view token);

    std::size_t count() const { return m_sessions.size(); }

private:
    std::function<std::string()> m_newToken;
    std::vector<Session> m_sessions;
    std::map<std::string, double> m_lastTry;  ///< by address
};

}  // namespace kestrel
