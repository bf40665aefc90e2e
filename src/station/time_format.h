#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace kestrel {

/// "HH:MM:SS", 24-hour clock.
std::string formatTime(const LocalDateTime& t);
/// "YYYY-MM-DD".
std::string formatDate(const LocalDateTime& t);
/// Seconds of local time since 1970-01-01 00:00 local, counting every day as
/// 86400 s: one count for the date and the time of day together.
std::int64_t localSeconds(const LocalDateTime& t);
/// How far local time is ahead of UTC now, in seconds, by `clock`.
std::int64_t localOffset(const Clock& clock);
/// "HH:MM:SS" in local time for seconds since 1970 UTC, local time being
/// `offset` seconds ahead.
std::string localClock(double epochSeconds, std::int64_t offset);
/// Zero-padded decimal of at least `width` digits.
std::string zeroPadded(int value, int width);

}  // namespace kestrel
