#include "platform/system_clock.h"

#include <chrono>
#include <ctime>

namespace kestrel {

LocalDateTime SystemClock::now() const {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalDateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.weekday = local.tm_wday + 1;  // tm_wday: 0 = Sunday
    return t;
}

double SystemClock::steadySeconds() const {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

}  // namespace kestrel
