#include "api/web_sessions.h"

#include <algorithm>
#include <cstdint>
#include <random>

#include "api/http_message.h"

namespace kestrel {

std::string randomToken() {
    std::random_device device("/dev/urandom");
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t bits = device();
        for (int j = 0; j < 8; ++j, bits >>= 4)
            token += kDigits[bits & 15];
    }
    return token;
}

WebSessions::WebSessions(std::function<std::string()> newToken) : m_newToken(std::move(newToken)) {}

bool WebSessions::mayTryLogin(const std::string& client, double now) {
    std::erase_if(m_lastTry,
                  [now](const auto& entry) { return now - entry.second >= kLoginSpacingSeconds; });
    const auto [entry, added] = m_lastTry.try_emplace(client, now);
    if (!added) return false;
    if (m_lastTry.size() > kMostAddressesSpaced) {
        m_lastTry.erase(entry);
        return false;
    }
    return true;
}

const WebSessions::Session& WebSessions::open(double now) {
    std::erase_if(m_sessions, [now](const Session& s) { return s.expires <= now; });
    if (m_sessions.size() >= kMostSessions) {
        m_sessions.erase(std::min_element(
            m_sessions.begin(), m_sessions.end(),
            [](const Session& a, const Session& b) { return a.expires < b.expires; }));
    }
    m_sessions.push_back({m_newToken(), m_newToken(), now + kLifetimeSeconds});
    return m_sessions.back();
}

const WebSessions::Session* WebSessions::find(std::string_view token, double now) {
    if (token.empty()) return nullptr;
    const Session* found = nullptr;
    // Every session is compared, each in a time that the token's length alone sets.
    for (const Session& session : m_sessions) {
        if (sameSecret(token, session.token) && session.expires > now) found = &session;
    }
    return found;
}

void WebSessions::close(std::string_view token) {
    std::erase_if(m_sessions, [token](const Session& s) { return sameSecret(token, s.token); });
}

}  // namespace kestrel
