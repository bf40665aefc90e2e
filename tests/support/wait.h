#pragma once

#include <chrono>
#include <thread>

namespace kestrel::test {

/// Polls `condition` until it holds or `limit` has passed; real processes and
/// servers need a deadline, not a fixed sleep, on a loaded machine.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kestrel::test
