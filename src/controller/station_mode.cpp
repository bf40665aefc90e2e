#include "controller/station_mode.h"

#include "scheduler/event_executor.h"
#include "station/station_events.h"
#include "station/timer_names.h"

namespace kestrel {

void setMode(Station& station, bool automatic, std::string_view origin, std::string_view client) {
    auto& button = station.display.cmdAutoManual;
    if ((button.caption == "AUTOMATIC") == automatic) return;
    if (automatic) {
        button.caption = "AUTOMATIC";
        button.background = kGreen;
        owedEventsFromNow(station);  // MANUAL stopped the schedule's switches
        station.timers.start(timer::tmrCheckAndDoEvents);
    } else {
        button.caption = "MANUAL";
        button.background = kRed;
        station.timers.stop(timer::tmrCheckAndDoEvents);
    }
    recordMode(station, automatic, origin, client);
    station.factsChanged();
}

}  // namespace kestrel
