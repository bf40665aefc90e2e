#include "management/config_download.h"

#include <optional>

#include "management/management_query.h"
#include "management/source_status.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"
#include "station/station_files.h"
#include "station/time_format.h"
#include "station/tolerant_step.h"
#include "station/waits.h"

namespace kestrel {
namespace {

// An error page or an empty answer must never replace the schedule.
Task<std::optional<std::string>> usableSchedule(UrlFetcher& fetcher, std::string url) {
    try {
        FetchResult result = co_await fetchFresh(fetcher, std::move(url), BodyForm::Bytes);
        if (result.isSuccessStatus() && !result.body.empty()) co_return std::move(result.body);
    } catch (...) {
    }
    co_return std::nullopt;
}

}  // namespace

std::string downloadCaptionTime(const LocalDateTime& t) {
    return formatTime(t) + " " + zeroPadded(t.year, 4) + "-" + zeroPadded(t.day, 2) + "-" +
           zeroPadded(t.month, 2);
}

Task<> tmrManagementDownload(Station& station) {
    auto& state = station.state;
    auto& caption = station.display.lblConfigurationStatus.caption;

    ++state.ManagementCounter;
    caption = "Countdown till config update: " +
              std::to_string(state.ManagementUpdate - state.ManagementCounter);
    if (state.ManagementCounter < state.ManagementUpdate) co_return;

    caption = "Config update in progress...";
    const std::string url = managementQuery(state.ManagementURL, state);
    // The request always goes out twice; the second usable answer wins over the first.
    std::optional<std::string> schedule =
        co_await usableSchedule(station.platform.managementFetcher, url);
    if (auto second = co_await usableSchedule(station.platform.managementFetcher, url)) {
        schedule = std::move(second);
    }

    bool written = false;
    if (schedule) {
        tolerate([&] { written = writeStationFile(station, kScheduleFile, *schedule); });
    }
    caption = (written ? "Config updated " : "Config update failed ") +
              downloadCaptionTime(station.now());
    recordScheduleDownload(station, schedule.has_value(), written);
    tolerate([&] { startSourceStatusReport(station); });
    state.ManagementCounter = 0;
}

}  // namespace kestrel
