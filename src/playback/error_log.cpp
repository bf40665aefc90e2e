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
    appendToFile(station.file("error.log"), errorLogLine(what, station.now(), source));
}

}  // namespace kestrel
