#pragma once

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// How handlers wait -- the rule every handler follows:
//
// 1. Nothing blocks the thread. A handler that must wait (a fetch, a pause,
//    a new player's first sound) is a Task and co_awaits a WaitFor;
//    everything else runs meanwhile.
// 2. Nothing but the reconciler (playback/reconciler.h) starts or stops a
//    player. The schedule, the orders of the operator, the API, the control
//    room and the management server, the failure detector, the silence guard
//    and the player watchdog record what they learnt as facts in the station
//    state and call Station::factsChanged(); the reconciler asks
//    wantedSource afresh and switches toward the answer. A switch that is no
//    longer wanted before its player plays is dropped, so nothing waits for
//    a turn and nothing stale is carried out. An order that wants to know
//    what became of it waits on Station::orders.
// 3. A handler that looks at the players -- the player watchdog and the
//    per-second player check -- records no outage while a switch runs: the
//    switch is changing exactly what it looks at, and its next look (at most
//    a second away) looks again.
// 4. A timer's tick that falls due while its handler's previous run still
//    waits is skipped, never made up (the timer table sees to it), so a slow
//    server never piles up requests.
// 5. Work nobody waits for (a report, an operator's click) is spawned on the
//    Station, which owns it until it ends; destroying a Task abandons its wait.
// 6. Tick counters (ManagementCounter, WeatherCounter) are the station's own
//    rhythm, not waits; a new handler that must wait uses 1, and one that
//    wants something else on air uses 2.

namespace kestrel {

/// The one way the station waits: a coroutine hands a completion to whoever
/// will finish the wait (the event loop's timer, a fetcher, an order's outcome)
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
