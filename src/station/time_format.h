#pragma once

#include <string>

#include "platform/clock.h"

namespace kestrel {

/// "HH:MM:SS", 24-hour clock.
std::string formatTime(const LocalDateTime& t);
/// "YYYY-MM-DD".
std::string formatDate(const LocalDateTime& t);
/// Zero-padded decimal of at least `width` digits.
std::string zeroPadded(int value, int width);

}  // namespace kestrel
