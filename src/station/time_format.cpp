#include "station/time_format.h"

#include <cmath>
#include <cstdlib>

namespace kestrel {
namespace {

// Writes `value` (0..99) as two digits; the clock labels refresh ten times a
// second, so this avoids building temporary strings.
void putTwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

std::string zeroPadded(int value, int width) {
    std::string digits = std::to_string(std::abs(value));
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    }
    return value < 0 ? "-" + digits : digits;
}

std::string formatTime(const LocalDateTime& t) {
    char text[8] = {0, 0, ':', 0, 0, ':', 0, 0};
    putTwoDigits(text, t.hour);
    putTwoDigits(text + 3, t.minute);
    putTwoDigits(text + 6, t.second);
    return std::string(text, sizeof text);
}

std::string formatDate(const LocalDateTime& t) {
    if (t.year < 0 || t.year > 9999) {
        return zeroPadded(t.year, 4) + "-" + zeroPadded(t.month, 2) + "-" + zeroPadded(t.day, 2);
    }
    char text[10] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0};
    putTwoDigits(text, t.year / 100);
    putTwoDigits(text + 2, t.year % 100);
    putTwoDigits(text + 5, t.month);
    putTwoDigits(text + 8, t.day);
    return std::string(text, sizeof text);
}

std::int64_t localSeconds(const LocalDateTime& t) {
    // Days from the civil date (proleptic Gregorian), after Howard Hinnant.
    const int year = t.month <= 2 ? t.year - 1 : t.year;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
    return days * 86400 + t.secondsSinceMidnight();
}

std::int64_t localOffset(const Clock& clock) {
    return localSeconds(clock.now()) - static_cast<std::int64_t>(std::floor(clock.epochSeconds()));
}

std::string localClock(double epochSeconds, std::int64_t offset) {
    const std::int64_t local = static_cast<std::int64_t>(std::floor(epochSeconds)) + offset;
    const auto seconds = static_cast<int>((local % 86400 + 86400) % 86400);
    return formatTime(
        {.hour = seconds / 3600, .minute = seconds / 60 % 60, .second = seconds % 60});
}

}  // namespace kestrel
