#pragma once

#include <chrono>

namespace kestrel {

/// Local calendar date and time of day, to the second.
struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 7;  // 1 = Sunday .. 7 = Saturday

    int secondsSinceMidnight() const { return hour * 3600 + minute * 60 + second; }
};

/// The station's view of time. The real clock reads the system; the simulated
/// one advances only when a test or the simulated event loop moves it.
class Clock {
public:
    virtual ~Clock() = default;

    /// Local date and time of day.
    virtual LocalDateTime now() const = 0;

    /// Seconds on a steady clock that never jumps with the time of day.
    virtual double steadySeconds() const = 0;

    /// Seconds since 1970-01-01 00:00 UTC, for timestamps that other programs read.
    virtual double epochSeconds() const {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};

/// Whether at least `seconds` lie between the steady readings `from` and
/// `to`. Steady seconds carry float noise of a fraction of a microsecond,
/// which counts as no time.
inline bool steadySecondsPassed(double from, double to, double seconds) {
    constexpr double kNoiseSeconds = 1e-6;
    return to - from >= seconds - kNoiseSeconds;
}

}  // namespace kestrel
