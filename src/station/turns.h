#pragma once

#include <deque>

#include "platform/event_loop.h"
#include "station/task.h"
#include "station/waiting.h"

namespace kestrel {

/// One holder at a time; the others wait their turn, first come first
/// served, without holding the thread. The switch procedure takes its turn
/// here so that two switches never overlap.
class Turns {
public:
    /// Held while it exists; ending it hands the turn to the next waiter.
    class Turn {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept : m_owner(std::exchange(other.m_owner, nullptr)) {}
        Turn& operator=(Turn&& other) noexcept {
            if (this != &other) {
                end();
                m_owner = std::exchange(other.m_owner, nullptr);
            }
            return *this;
        }
        ~Turn() { end(); }
        /// Hands the turn on before the end of the scope.
        void end() {
            if (m_owner) std::exchange(m_owner, nullptr)->handOver();
        }

    private:
        friend class Turns;
        explicit Turn(Turns* owner) : m_owner(owner) {}
        Turns* m_owner = nullptr;
    };

    explicit Turns(EventLoop& loop) : m_loop(loop) {}
    Turns(const Turns&) = delete;
    Turns& operator=(const Turns&) = delete;
    ~Turns() { close(); }

    /// True while somebody holds the turn.
    bool taken() const { return m_taken; }

    /// Waits for the turn; at once when nobody holds it.
    Task<Turn> take();

    /// Hands out no more turns (the station is ending).
    void close();

private:
    void handOver();

    EventLoop& m_loop;
    bool m_taken = false;
    bool m_closed = false;
    std::deque<Completion<Done>> m_waiting;
    EventLoop::CallId m_handing = 0;
};

}  // namespace kestrel
