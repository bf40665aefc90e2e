#include "playback/output_watch.h"

#include "platform/station_command.h"
#include "playback/error_log.h"
#include "station/station_events.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// A device gone or stuck fills the log with some 33 lines a second; a single
// line is a hiccup that MPlayer gets over.
constexpr std::uint32_t kStuckLines = 5;
constexpr double kErrorLineSpacingSeconds = 15;

void showOutput(Station& station) {
    const bool failed = station.output.failed;
    Label& label = station.display.lblOutput;
    label.caption = failed ? "OUTPUT FAILED" : "";
    label.background = failed ? std::optional(kRed) : std::nullopt;
    label.foreground = failed ? std::optional(kWhite) : std::nullopt;
}

}  // namespace

bool reportsNoOutput(const PlayerLogFields& fields) {
    return fields.outputOpenFailures > 0 || fields.outputStuckLines >= kStuckLines;
}

void declareOutputFailure(Station& station, int slot, std::int16_t source) {
    OutputState& output = station.output;
    const double now = station.platform.clock.steadySeconds();
    output.lastTriedAt = now;
    if (!output.failed) {
        output.failed = true;
        ++output.failures;
        showOutput(station);
    }
    if (output.lastErrorLineAt &&
        !steadySecondsPassed(*output.lastErrorLineAt, now, kErrorLineSpacingSeconds)) {
        return;
    }
    output.lastErrorLineAt = now;
    recordOutputFailure(station, slot, source);
    tolerate([&] { appendToErrorLog(station, kOutputFailedEntry, source); });
}

void outputAnswers(Station& station) {
    if (!station.output.failed) return;
    station.output.failed = false;
    showOutput(station);
    recordOutputAnswers(station);
}

double outputTryDueAt(const OutputState& output) {
    return output.failed ? output.lastTriedAt + kOutputTryEverySeconds : 0;
}

bool OutputWatch::stoppedStuckPlayer(int slot, std::uint32_t stuckLines, bool newLog) {
    const std::uint32_t gained =
        newLog || stuckLines < m_stuckLines ? stuckLines : stuckLines - m_stuckLines;
    m_stuckLines = stuckLines;
    if (gained < kStuckLines) return false;
    m_stuckLines = 0;
    Station& station = m_station;
    auto& state = station.state;
    const std::int16_t source = state.CurrentSource;
    tolerate([&] { station.run(StopPlayer{slot}); });
    declareOutputFailure(station, slot, source);
    // Nothing plays now; the source is handed back, to play once the device answers.
    state.WasPlaying = source;
    state.RestartCause = SwitchCause::Watchdog;
    state.CurrentSource = -1;
    station.factsChanged();
    return true;
}

}  // namespace kestrel
