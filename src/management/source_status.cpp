#include "management/source_status.h"

#include "management/management_query.h"
#include "playback/source_list.h"
#include "station/tolerant_step.h"
#include "station/waits.h"

namespace kestrel {

Task<> SendSourceStatus(Station& station) {
    const auto& state = station.state;
    if (state.ManagementUpdate <= 0) co_return;

    const std::int16_t active = state.CurrentSource;  // the switch this report tells of
    SourceTable sources;
    tolerate([&] { sources = scanSources(station.file(kSourceListFile)); });
    for (int item = 0; item < 10; ++item) {
        std::string url;
        tolerate([&] {
            url = managementQuery(state.ManagementSendURL, state) +
                  "&item=" + std::to_string(item) + "&name=" + sources.names[item] +
                  "&url=" + sources.addresses[item] + "&active=" + (item == active ? "Y" : "N");
        });
        try {
            co_await fetchFresh(station.platform.statusReportFetcher, url, BodyForm::Bytes);
        } catch (...) {
        }
    }
}

void startSourceStatusReport(Station& station) {
    station.statusReport = {};  // abandons the older report's request before the new one starts
    station.statusReport = SendSourceStatus(station);
}

}  // namespace kestrel
