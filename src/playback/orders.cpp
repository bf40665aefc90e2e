#include "playback/orders.h"

#include "playback/playback_start.h"
#include "playback/switch_procedure.h"
#include "station/station_events.h"
#include "station/time_format.h"

namespace kestrel {
namespace {

Task<bool> giveOrder(Station& station, std::string key, std::int16_t source, SwitchCause cause) {
    auto& state = station.state;
    if (state.LatestOrder.order > state.OrderServed)
        station.orders.settle(state.LatestOrder.order, false);  // replaced before carried out
    const std::uint64_t order = ++state.OrdersGiven;
    state.LatestOrder = Wish{source, std::move(key), cause, localSeconds(station.now()), order};
    endSilenceHold(station, causeName(cause));
    state.FailedTries.erase(source);  // an order gets a try of its own at once
    if (cause == SwitchCause::Operator || cause == SwitchCause::Api || cause == SwitchCause::Web) {
        state.SilenceFlag = 0;
        state.LinkFailCount = 0;
        state.WasPlaying = -1;
    }
    station.factsChanged();
    co_return co_await station.orders.of(order);
}

// The operator's and the API's order: the same entry, told apart by cause.
Task<bool> forceSwitch(Station& station, std::string key, SwitchCause cause) {
    // A number too large for the station's 16 bits leaves the source as it is.
    const std::int16_t source = sourceNumberOfKey(key).value_or(station.state.CurrentSource == -1
                                                                    ? static_cast<std::int16_t>(0)
                                                                    : station.state.CurrentSource);
    return giveOrder(station, std::move(key), source, cause);
}

}  // namespace

Task<bool> cmdForceSwitch_Click(Station& station) {
    return forceSwitch(station, station.display.comboSourceList.text.substr(0, 1),
                       SwitchCause::Operator);
}

Task<bool> apiSwitch(Station& station, std::string key) {
    return forceSwitch(station, std::move(key), SwitchCause::Api);
}

Task<bool> webSwitch(Station& station, std::string key) {
    return forceSwitch(station, std::move(key), SwitchCause::Web);
}

Task<bool> remoteSwitch(Station& station, std::string answer) {
    const auto number = sourceNumberOfKey(answer);
    if (!number || !keyHasAddress(station, answer)) {
        recordRemoteOrderIgnored(station, answer, "no_such_source");
        co_return false;
    }
    // Starting the source on air again would play it twice, offset by the buffering.
    if (*number == station.state.CurrentSource && onAirPlayerRuns(station)) {
        recordRemoteOrderIgnored(station, answer, "already_on_air");
        co_return true;
    }
    co_return co_await giveOrder(station, std::move(answer), *number, SwitchCause::Management);
}

}  // namespace kestrel
