#include "station/station_events.h"

#include "station/time_format.h"

namespace kestrel {
namespace {

void journal(Station& station, Journal::Level level, std::string_view event,
             std::initializer_list<Journal::Field> fields) {
    const LocalDateTime now = station.now();
    station.journal.write(formatDate(now) + "T" + formatTime(now), level, event, fields);
}

std::string number(long value) {
    return std::to_string(value);
}

}  // namespace

void recordSwitch(Station& station, SwitchCause cause, std::int16_t source, int slot,
                  std::string_view result) {
    ++station.counters.switchesBy(cause);
    station.counters.lastSwitch = station.platform.clock.epochSeconds();
    const bool endsHold = cause == SwitchCause::Operator || cause == SwitchCause::Api ||
                          cause == SwitchCause::Web || cause == SwitchCause::Schedule ||
                          cause == SwitchCause::Management || cause == SwitchCause::SilenceEnded;
    if (endsHold) endSilenceHold(station, causeName(cause));
    journal(station, Journal::Level::Info, "switch",
            {{"cause", std::string(causeName(cause))},
             {"source", number(source)},
             {"slot", number(slot)},
             {"url", station.state.PlayURL},
             {"result", std::string(result)}});
}

void recordSwitchFailure(Station& station, SwitchCause cause, std::int16_t source, int slot,
                         const std::string& url) {
    ++station.counters.switchFailures;
    journal(station, Journal::Level::Warning, "switch_failed",
            {{"cause", std::string(causeName(cause))},
             {"source", number(source)},
             {"slot", number(slot)},
             {"url", url},
             {"on_air", number(station.state.CurrentSource)}});
}

void endSilenceHold(Station& station, std::string_view why) {
    SilenceState& silence = station.silence;
    if (silence.heldSource == -1) return;
    journal(station, Journal::Level::Info, "silence_hold_ended",
            {{"source", number(silence.heldSource)}, {"cause", std::string(why)}});
    silence.heldSource = -1;
}

void recordSilence(Station& station, std::int16_t source) {
    ++station.silence.count;
    journal(station, Journal::Level::Warning, "silence",
            {{"source", number(source)},
             {"level_dbfs", number(station.state.SilenceLevel)},
             {"seconds", number(station.state.SilenceSeconds)}});
}

void recordSilenceTrial(Station& station, std::int16_t source, int slot) {
    journal(station, Journal::Level::Info, "silence_trial",
            {{"source", number(source)}, {"slot", number(slot)}, {"result", "silent"}});
}

void recordOutputFailure(Station& station, int slot, std::int16_t source) {
    journal(station, Journal::Level::Warning, "output_failed",
            {{"source", number(source)}, {"slot", number(slot)}});
}

void recordOutputAnswers(Station& station) {
    journal(station, Journal::Level::Info, "output_answers", {});
}

void recordPlayerOutage(Station& station, std::int16_t source) {
    ++station.counters.playerRestarts;
    journal(station, Journal::Level::Warning, "player_outage", {{"source", number(source)}});
}

void recordStall(Station& station, std::int16_t source, int slot) {
    ++station.counters.stalls;
    journal(station, Journal::Level::Warning, "stream_stall",
            {{"source", number(source)}, {"slot", number(slot)}});
}

void recordFailureDeclared(Station& station) {
    ++station.counters.failovers;
    journal(station, Journal::Level::Warning, "failure_declared",
            {{"source", number(station.state.LinkSource)},
             {"test_url", station.display.lblFailURL.caption}});
}

void recordFailureRecovered(Station& station) {
    journal(station, Journal::Level::Info, "failure_recovered",
            {{"source", number(station.state.LinkSource)},
             {"declared", station.state.SilenceFlag == 1 ? "true" : "false"},
             {"failed_checks", number(station.state.LinkFailCount)}});
}

void recordScheduleDownload(Station& station, bool usable, bool written) {
    if (written) {
        station.counters.scheduleDownloaded = station.platform.clock.epochSeconds();
        journal(station, Journal::Level::Info, "schedule_downloaded", {});
    } else {
        journal(station, Journal::Level::Warning, "schedule_refused",
                {{"reason", usable ? "not_written" : "no_usable_answer"}});
    }
}

void recordRemoteOrderIgnored(Station& station, std::string_view key, std::string_view reason) {
    journal(station, Journal::Level::Info, "management_order_ignored",
            {{"key", std::string(key)}, {"reason", std::string(reason)}});
}

void recordApiSwitchRequest(Station& station, std::string_view client, std::string_view key) {
    journal(station, Journal::Level::Info, "api_switch_request",
            {{"client", std::string(client)}, {"key", std::string(key)}});
}

void recordWebOrder(Station& station, std::string_view client, std::string_view key) {
    journal(station, Journal::Level::Info, "web_order",
            {{"client", std::string(client)}, {"order", "switch"}, {"key", std::string(key)}});
}

void recordMode(Station& station, bool automatic, std::string_view origin,
                std::string_view client) {
    journal(station, Journal::Level::Info, "mode",
            {{"mode", automatic ? "automatic" : "manual"},
             {"origin", std::string(origin)},
             {"client", std::string(client)}});
}

void recordFileSaved(Station& station, std::string_view file, std::string_view client,
                     std::size_t bytes) {
    journal(station, Journal::Level::Info, "file_saved",
            {{"file", std::string(file)},
             {"origin", "web"},
             {"client", std::string(client)},
             {"bytes", std::to_string(bytes)}});
}

void recordWebLogin(Station& station, std::string_view client, bool accepted) {
    journal(station, accepted ? Journal::Level::Info : Journal::Level::Warning,
            accepted ? "web_login" : "web_login_failed", {{"client", std::string(client)}});
}

void recordApiEvictions(Station& station, std::uint64_t perAddress, std::uint64_t tableFull,
                        std::string_view lastClient) {
    journal(station, Journal::Level::Warning, "api_connections_evicted",
            {{"per_address", std::to_string(perAddress)},
             {"table_full", std::to_string(tableFull)},
             {"last_client", std::string(lastClient)}});
}

void recordWriteFailed(Station& station, std::string_view file, std::string_view error) {
    journal(station, Journal::Level::Warning, "write_failed",
            {{"file", std::string(file)}, {"error", std::string(error)}});
}

void recordWriteRecovered(Station& station, std::string_view file) {
    journal(station, Journal::Level::Info, "write_recovered", {{"file", std::string(file)}});
}

void recordStreamTitle(Station& station, const std::string& title) {
    if (title == station.display.lblRXmetadata.caption) return;
    station.counters.metadataUpdated = station.platform.clock.epochSeconds();
    journal(station, Journal::Level::Info, "title",
            {{"source", number(station.state.CurrentSource)}, {"title", title}});
}

void recordHandlerFailure(Station& station, std::string_view where, std::string_view what) {
    journal(station, Journal::Level::Warning, "handler_failed",
            {{"handler", std::string(where)}, {"what", std::string(what)}});
}

void recordConfigurationProblem(Station& station, std::string_view problem) {
    journal(station, Journal::Level::Warning, "configuration_problem",
            {{"problem", std::string(problem)}});
}

}  // namespace kestrel
