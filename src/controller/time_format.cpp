#include "controller/time_format.h"

namespace kestrel {

std::string zeroPadded(int value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    }
    return value < 0 ? "-" + digits : digits;
}

std::string formatTime(const LocalDateTime& t) {
    return zeroPadded(t.hour, 2) + ":" + zeroPadded(t.minute, 2) + ":" + zeroPadded(t.second, 2);
}

std::string formatDate(const LocalDateTime& t) {
    return zeroPadded(t.year, 4) + "-" + zeroPadded(t.month, 2) + "-" + zeroPadded(t.day, 2);
}

}  // namespace kestrel
