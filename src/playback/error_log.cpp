#include "playback/error_log.h"

#include "platform/file_io.h"
#include "station/time_format.h"

namespace kestrel {

std::string errorLogLine(std::string_view what, const LocalDateTime& t, int source) {
    return std::string(what) + " " + zeroPadded(t.month, 2) + "-" + zeroPadded(t.day, 2) + "-" +
           zeroPadded(t.year, 4) + " " + formatTime(t) + " SOURCE:" + std::to_string(source) +
           "\r\n";
}

void appendToErrorLog(Station& station, std::string_view what, int source) {
    station.state.LastErrorLineAt[static_cast<std::int16_t>(source)] =
        station.platform.clock.steadySeconds();
    appendToFile(station.file("error.log"), errorLogLine(what, station.now(), source));
}

void appendToErrorLogSpaced(Station& station, std::string_view what, std::int16_t source) {
    constexpr double kSpacingSeconds = 15;
    const auto& last = station.state.LastErrorLineAt;
    const auto it = last.find(source);
    if (it != last.end() &&
        !steadySecondsPassed(it->second, station.platform.clock.steadySeconds(), kSpacingSeconds)) {
        return;
    }
    appendToErrorLog(station, what, source);
}

}  // namespace kestrel
