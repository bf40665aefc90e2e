#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace kestrel::test {

/// Virtual time, to the millisecond. Local time is the virtual calendar with
/// no time zone.
class FakeClock final : public Clock {
public:
    /// Starts at Monday 2026-12-07 08:00:00.
    FakeClock();

    LocalDateTime now() const override;
    double steadySeconds() const override { return static_cast<double>(m_ms) / 1000.0; }
    double epochSeconds() const override { return static_cast<double>(m_ms) / 1000.0; }

    void set(int year, int month, int day, int hour, int minute, int second);
    void advanceMs(std::int64_t ms) { m_ms += ms; }
    void advanceSeconds(double seconds) { advanceMs(static_cast<std::int64_t>(seconds * 1000.0)); }
    std::int64_t ms() const { return m_ms; }
    void setMs(std::int64_t ms) { m_ms = ms; }

private:
    std::int64_t m_ms = 0;  // milliseconds since 1970-01-01 00:00:00
};

/// Milliseconds since 1970-01-01 of a calendar date and time.
std::int64_t civilToMs(int year, int month, int day, int hour, int minute, int second);

}  // namespace kestrel::test
