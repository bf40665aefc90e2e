#include "management/change_poll.h"

#include "station/tolerant_step.h"
#include "management/management_query.h"
#include "playback/switch_procedure.h"

namespace kestrel {

bool ordersSwitch(const std::string& answer) {
    return !answer.empty() && answer.front() >= '0' && answer.front() <= '9';
}

void tmrCheckForChanges(Station& station) {
    std::string answer;
    tolerate([&] {
        const FetchResult result = fetchFresh(
            station.platform.Inet1, managementQuery(station.state.CheckForChangeURL, station.state),
            BodyForm::Text);
        // An error page such as "404 page not found" is no order to switch.
        if (result.isSuccessStatus()) answer = result.body;
    });
    if (!ordersSwitch(answer)) return;

    station.display.lblNextEvent.caption = "EMERGENCY SWITCH TO " + answer;
    remoteSwitch(station, answer);
}

}  // namespace kestrel
