#include "support/fake_clock.h"

#include <chrono>
#include <cmath>

namespace kestrel::test {

using namespace std::chrono;

std::int64_t civilToMs(int year, int month, int day, int hour, int minute, int second) {
    const sys_days date =
        year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                       std::chrono::day{static_cast<unsigned>(day)}};
    const auto seconds =
        date.time_since_epoch() + hours{hour} + minutes{minute} + std::chrono::seconds{second};
    return duration_cast<milliseconds>(seconds).count();
}

FakeClock::FakeClock() {
    set(2026, 12, 7, 8, 0, 0);
}

void FakeClock::set(int year, int month, int day, int hour, int minute, int second) {
    m_ms = civilToMs(year, month, day, hour, minute, second);
}

LocalDateTime FakeClock::now() const {
    const milliseconds total{m_ms};
    const sys_days date = floor<days>(sys_time<milliseconds>{total});
    const year_month_day ymd{date};
    const hh_mm_ss time{floor<seconds>(total - date.time_since_epoch())};
    LocalDateTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(time.hours().count());
    t.minute = static_cast<int>(time.minutes().count());
    t.second = static_cast<int>(time.seconds().count());
    t.weekday = static_cast<int>(weekday{date}.c_encoding()) + 1;
    return t;
}

}  // namespace kestrel::test
