#include "management/change_poll.h"

#include "management/management_query.h"
#include "playback/orders.h"
#include "station/waits.h"

namespace kestrel {

std::string trimmedAnswer(std::string_view answer) {
    constexpr std::string_view kBlanksAndLineEnds = " \t\r\n";
    const auto first = answer.find_first_not_of(kBlanksAndLineEnds);
    if (first == std::string_view::npos) return {};
    return std::string(
        answer.substr(first, answer.find_last_not_of(kBlanksAndLineEnds) + 1 - first));
}

bool ordersSwitch(const std::string& answer) {
    return !answer.empty() && answer.front() >= '0' && answer.front() <= '9';
}

Task<> tmrCheckForChanges(Station& station) {
    std::string answer;
    try {
        const FetchResult result = co_await fetchFresh(
            station.platform.changePollFetcher,
            managementQuery(station.state.CheckForChangeURL, station.state), BodyForm::Text);
        // An error page such as "404 page not found" is no order to switch.
        if (result.isSuccessStatus()) answer = trimmedAnswer(result.body);
    } catch (...) {
    }
    if (!ordersSwitch(answer)) co_return;

    station.display.lblNextEvent.caption = "EMERGENCY SWITCH TO " + answer;
    co_await remoteSwitch(station, answer);
}

}  // namespace kestrel
