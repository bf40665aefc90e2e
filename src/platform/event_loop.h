#pragma once

#include <cstdint>
#include <functional>

namespace kestrel {

/// The station's one thread of events, as the core and the Linux pieces see
/// it. Every callback runs on that thread, one at a time, never from inside
/// the call that registered it.
class EventLoop {
public:
    using Callback = std::function<void()>;
    using CallId = std::uint64_t;

    virtual ~EventLoop() = default;

    /// Runs `callback` once, no sooner than `seconds` from now. The id is
    /// never 0.
    virtual CallId callAfter(double seconds, Callback callback) = 0;

    /// Forgets a call that has not run yet; an unknown or spent id is ignored.
    virtual void cancelCall(CallId id) = 0;

    /// Calls `ready(readable, writable)` whenever the descriptor is ready for
    /// what is asked; a second watch of the same descriptor replaces the first.
    virtual void watch(int fd, bool forReading, bool forWriting,
                       std::function<void(bool readable, bool writable)> ready) = 0;

    /// Stops watching the descriptor (before it is closed).
    virtual void unwatch(int fd) = 0;
};

}  // namespace kestrel
