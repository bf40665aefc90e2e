#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

#include "station/waiting.h"

namespace kestrel {

/// What became of each order: on air, or not (it failed, or a newer wish
/// replaced it before a switch carried it out). Whoever gave an order may
/// wait for its outcome without holding the thread.
class OrderOutcomes {
public:
    /// Order `order` has its outcome; a waiter resumes. Only the first counts.
    void settle(std::uint64_t order, bool onAir);

    /// Waits for the outcome of `order`; at once when it is known already.
    WaitFor<bool> of(std::uint64_t order);

private:
    std::map<std::uint64_t, Completion<bool>> m_waiting;
    std::deque<std::pair<std::uint64_t, bool>> m_settled;  ///< the latest few
};

}  // namespace kestrel
