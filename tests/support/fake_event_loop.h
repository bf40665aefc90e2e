#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "platform/event_loop.h"

namespace kestrel::test {

class FakeClock;

/// The event loop on virtual time. Immediate (the default, for tests that
/// call one handler directly): a call after n seconds moves the clock on by
/// n and runs at once, so a handler ends within the call that started it, as
/// a blocking one did. Queued (the simulated host): calls wait for their
/// virtual time and run when the host gets there.
class FakeEventLoop final : public EventLoop {
public:
    explicit FakeEventLoop(FakeClock& clock) : m_clock(clock) {}

    CallId callAfter(double seconds, Callback callback) override;
    void cancelCall(CallId id) override;
    void watch(int, bool, bool, std::function<void(bool, bool)>) override {}
    void unwatch(int) override {}

    bool immediate = true;

    /// Virtual time of the earliest queued call.
    std::optional<std::int64_t> nextDueMs() const;
    /// Runs the earliest queued call if it is due by `ms`; false when none is.
    bool runOneDueBy(std::int64_t ms);
    std::size_t queued() const { return m_calls.size(); }

private:
    FakeClock& m_clock;
    CallId m_lastId = 0;
    // By (due time, id): calls due at the same time run in the order made.
    std::map<std::pair<std::int64_t, CallId>, Callback> m_calls;
};

}  // namespace kestrel::test
