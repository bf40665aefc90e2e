#include "station/station_files.h"

#include "platform/file_io.h"
#include "station/station_events.h"

namespace kestrel {

bool writeStationFile(Station& station, const std::string& name, std::string_view bytes) {
    // A file that holds these bytes already is left alone: most ticks write
    // what the last one did, and each write costs two syncs of the disk.
    std::string current;
    const bool unchanged = readWholeFile(station.file(name), current) && current == bytes;
    const std::error_code error =
        unchanged ? std::error_code() : replaceFileDurably(station.file(name), bytes);
    noteFileWrite(station, name, error);
    return !error;
}

void noteFileWrite(Station& station, const std::string& name, std::error_code error) {
    FileWrites& writes = station.counters.fileWrites[name];
    const bool wasFailing = !writes.error.empty();
    if (!error) {
        writes.error.clear();
        if (wasFailing) recordWriteRecovered(station, name);
        return;
    }
    ++writes.failures;
    writes.error = error.message();
    if (!wasFailing) recordWriteFailed(station, name, writes.error);
}

}  // namespace kestrel
