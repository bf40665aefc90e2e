#include "station/turns.h"

namespace kestrel {

Task<Turns::Turn> Turns::take() {
    if (!m_taken && !m_closed) {
        m_taken = true;
        co_return Turn(this);
    }
    co_await WaitFor<Done>([this](Completion<Done> done) { m_waiting.push_back(done); });
    co_return Turn(this);  // handed over: already marked as taken
}

void Turns::handOver() {
    while (!m_waiting.empty() && !m_waiting.front().wanted())
        m_waiting.pop_front();
    if (m_closed || m_waiting.empty()) {
        m_taken = false;
        return;
    }
    const Completion<Done> next = m_waiting.front();
    m_waiting.pop_front();
    // The next holder resumes from the loop, not inside the ending holder's
    // stack; one that has gone meanwhile passes the turn on.
    m_handing = m_loop.callAfter(0, [this, next] {
        m_handing = 0;
        if (next.wanted()) {
            next(Done{});
        } else {
            handOver();
        }
    });
}

void Turns::close() {
    m_closed = true;
    m_waiting.clear();
    m_loop.cancelCall(std::exchange(m_handing, 0));
}

}  // namespace kestrel
