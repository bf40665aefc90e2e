#pragma once

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace kestrel {

/// The one way the station waits: a coroutine hands a completion to whoever
/// will finish the wait (the event loop's timer, a fetcher, the switch queue)
/// and is resumed, on the station's thread, when that completion is called.
/// A completion may be called at once (a fake with no delay), later, or
/// never (the waiting coroutine was destroyed first); it is safe to call
/// after the waiter has gone.
struct Done {};

template <typename T>
class Completion {
public:
    /// Still wanted: the waiting coroutine exists and has not been resumed.
    bool wanted() const { return m_state && !m_state->value && !m_state->abandoned; }

    /// Finishes the wait with `value`; a second call, or one after the waiter
    /// has gone, does nothing.
    void operator()(T value) const {
        if (!wanted()) return;
        m_state->value.emplace(std::move(value));
        if (m_state->waiting) std::exchange(m_state->waiting, {}).resume();
    }

private:
    template <typename>
    friend class WaitFor;
    struct State {
        std::optional<T> value;
        std::coroutine_handle<> waiting;
        bool abandoned = false;
    };
    explicit Completion(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

/// Awaitable: `start` receives the completion and sets the wait going;
/// `abandon` runs when the waiting coroutine is destroyed before the wait
/// ended (it cancels the fetch or the timer).
template <typename T>
class WaitFor {
public:
    using Start = std::function<void(Completion<T>)>;
    using Abandon = std::function<void()>;

    explicit WaitFor(Start start, Abandon abandon = {})
        : m_start(std::move(start)),
          m_abandon(std::move(abandon)),
          m_state(std::make_shared<typename Completion<T>::State>()) {}
    WaitFor(const WaitFor&) = delete;
    WaitFor& operator=(const WaitFor&) = delete;
    ~WaitFor() {
        if (m_state->value || !m_started) return;
        m_state->abandoned = true;
        m_state->waiting = {};
        if (m_abandon) m_abandon();
    }

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> waiting) {
        m_started = true;
        m_start(Completion<T>(m_state));
        if (m_state->value) return false;  // finished at once: carry on without suspending
        m_state->waiting = waiting;
        return true;
    }
    T await_resume() { return std::move(*m_state->value); }

private:
    Start m_start;
    Abandon m_abandon;
    std::shared_ptr<typename Completion<T>::State> m_state;
    bool m_started = false;
};

}  // namespace kestrel
