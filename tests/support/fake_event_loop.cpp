#include "support/fake_event_loop.h"

#include <cmath>

#include "support/fake_clock.h"

namespace kestrel::test {

EventLoop::CallId FakeEventLoop::callAfter(double seconds, Callback callback) {
    const CallId id = ++m_lastId;
    const auto delayMs = static_cast<std::int64_t>(std::ceil(std::max(0.0, seconds) * 1000.0));
    if (immediate) {
        m_clock.advanceMs(delayMs);
        callback();
    } else {
        m_calls.emplace(std::make_pair(m_clock.ms() + delayMs, id), std::move(callback));
    }
    return id;
}

void FakeEventLoop::cancelCall(CallId id) {
    for (auto it = m_calls.begin(); it != m_calls.end(); ++it) {
        if (it->first.second == id) {
            m_calls.erase(it);
            return;
        }
    }
}

std::optional<std::int64_t> FakeEventLoop::nextDueMs() const {
    if (m_calls.empty()) return std::nullopt;
    return m_calls.begin()->first.first;
}

bool FakeEventLoop::runOneDueBy(std::int64_t ms) {
    if (m_calls.empty() || m_calls.begin()->first.first > ms) return false;
    auto node = m_calls.extract(m_calls.begin());
    if (node.key().first > m_clock.ms()) m_clock.setMs(node.key().first);
    node.mapped()();
    return true;
}

}  // namespace kestrel::test
