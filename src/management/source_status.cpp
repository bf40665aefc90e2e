#include "management/source_status.h"

#include "station/tolerant_step.h"
#include "management/management_query.h"
#include "playback/source_list.h"

namespace kestrel {

void SendSourceStatus(Station& station) {
    const auto& state = station.state;
    if (state.ManagementUpdate <= 0) return;

    SourceTable sources;
    tolerate([&] { sources = scanSources(station.file(kSourceListFile)); });
    for (int item = 0; item < 10; ++item) {
        tolerate([&] {
            const std::string url =
                managementQuery(state.ManagementSendURL, state) + "&item=" + std::to_string(item) +
                "&name=" + sources.names[item] + "&url=" + sources.addresses[item] +
                "&active=" + (item == state.CurrentSource ? "Y" : "N");
            fetchFresh(station.platform.Inet1, url, BodyForm::Bytes);
        });
    }
}

}  // namespace kestrel
