#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace kestrel::bench {

/// Wall time of `work` in milliseconds.
inline double millisecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

/// CPU time of `work` in milliseconds: on a busy shared machine the wall time
/// mostly counts the time other processes held the processor.
inline double cpuMillisecondsOf(const std::function<void()>& work) {
    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    work();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    return (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace kestrel::bench
