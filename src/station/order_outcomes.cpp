#include "station/order_outcomes.h"

#include <algorithm>

namespace kestrel {
namespace {

// Outcomes kept for a waiter that asks after the fact (a switch that ended
// within the call that gave the order).
constexpr std::size_t kKeptOutcomes = 16;

}  // namespace

void OrderOutcomes::settle(std::uint64_t order, bool onAir) {
    const auto known = std::find_if(m_settled.begin(), m_settled.end(),
                                    [&](const auto& settled) { return settled.first == order; });
    if (known != m_settled.end()) return;
    m_settled.emplace_back(order, onAir);
    if (m_settled.size() > kKeptOutcomes) m_settled.pop_front();
    const auto waiting = m_waiting.find(order);
    if (waiting == m_waiting.end()) return;
    const Completion<bool> done = waiting->second;
    m_waiting.erase(waiting);
    done(onAir);
}

WaitFor<bool> OrderOutcomes::of(std::uint64_t order) {
    return WaitFor<bool>([this, order](Completion<bool> done) {
        for (const auto& [settled, onAir] : m_settled) {
            if (settled == order) return done(onAir);
        }
        m_waiting.insert_or_assign(order, done);
    });
}

}  // namespace kestrel
