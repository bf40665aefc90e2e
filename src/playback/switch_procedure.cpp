#include "playback/switch_procedure.h"

#include <filesystem>
#include <system_error>

#include "management/source_status.h"
#include "platform/command_line.h"
#include "playback/source_list.h"
#include "station/station_events.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// Both slots play this long before the old one is stopped.
constexpr double kOverlapSeconds = 2;

}  // namespace

std::optional<std::int16_t> sourceNumberOfKey(const std::string& key) {
    long value = 0;
    for (char c : key) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 32767) return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

Task<> runSwitchProcedure(Station& station, SwitchEntry entry, SwitchCause cause,
                          std::string sourceKey) {
    auto& state = station.state;
    auto& display = station.display;
    const bool operatorEntry = entry == SwitchEntry::Operator;

    if (operatorEntry) {
        display.cmdForceSwitch.enabled = false;
        state.SilenceFlag = 0;
        state.LinkFailCount = 0;
        state.WasPlaying = -1;
    }
    const int newSlot = nextSlot(state.CurrentMplayer);
    const int otherSlot = newSlot == 1 ? 2 : 1;

    SourceEntry source;
    tolerate([&] { source = lookupSource(station.file(kSourceListFile), sourceKey); });
    const bool addressFound = source.address.size() >= kShortestAddress;
    if (!addressFound) {
        source.address = display.lblCurrentSource.caption;
        source.name = display.lblStudio.caption;
    }
    display.lblCurrentSource.caption = source.address;
    display.lblStudio.caption = source.name;
    state.PlayURL = source.address;

    tolerate([&] { station.run(playerStartCommand(newSlot, state.PlayURL)); });
    try {
        co_await station.Pause(kOverlapSeconds);
    } catch (...) {
    }
    tolerate([&] { station.run(playerStopCommand(otherSlot)); });
    tolerate([&] {
        std::error_code ignored;  // fails while the stopped player still holds it
        std::filesystem::remove(station.file(playerLogFile(otherSlot)), ignored);
    });
    state.CurrentMplayer = static_cast<std::int16_t>(newSlot);
    if (entry != SwitchEntry::EventExecutor) {
        if (const auto number = sourceNumberOfKey(sourceKey)) state.CurrentSource = *number;
    }
    display.lblSourceNumber.caption = std::to_string(state.CurrentSource);
    display.lblSourceDisp.caption = std::to_string(state.CurrentSource);
    tolerate([&] { startSourceStatusReport(station); });
    recordSwitch(station, cause, state.CurrentSource, newSlot, addressFound ? "ok" : "no_address");

    if (operatorEntry) display.cmdForceSwitch.enabled = true;
}

Task<> cmdForceSwitch_Click(Station& station) {
    std::string key = station.display.comboSourceList.text.substr(0, 1);
    if (!station.state.TransferString.empty()) key = station.state.TransferString;
    const bool fromApi = !station.state.TransferString.empty();
    const auto turn = co_await station.switching.take();
    co_await runSwitchProcedure(station, SwitchEntry::Operator,
                                fromApi ? SwitchCause::Api : SwitchCause::Operator, key);
}

Task<> eventSwitch(Station& station, std::int16_t candidate, SwitchCause cause) {
    const auto turn = co_await station.switching.take();
    station.state.CurrentSource = candidate;
    const std::string digits = std::to_string(candidate);
    co_await runSwitchProcedure(station, SwitchEntry::EventExecutor, cause,
                                digits.substr(digits.size() - 1));
}

Task<> remoteSwitch(Station& station, std::string answer) {
    const auto turn = co_await station.switching.take();
    co_await runSwitchProcedure(station, SwitchEntry::ManagementPoll, SwitchCause::Management,
                                answer);
}

}  // namespace kestrel
