#include "monitoring/silence_guard.h"

#include "playback/error_log.h"
#include "playback/switch_procedure.h"
#include "station/station_events.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// A held source is tried again this often, counted from the declaration.
constexpr double kTrialEverySeconds = 60;

}  // namespace

void SilenceGuard::look(double now) {
    Station& station = m_station;
    SilenceState& silence = station.silence;
    // Silence is what the source sends, whatever gain or fade it is played at.
    const auto change =
        m_watch.look(now, station.state.CurrentSource, station.audio.judgedOf(station.onAirSlot()),
                     SilenceSettings{static_cast<double>(station.state.SilenceLevel),
                                     station.state.SilenceSeconds});
    silence.silentSeconds = m_watch.silentSeconds(now);
    if (change == SilenceWatch::Change::Declared) declare(*m_watch.declared(), now);

    const bool held = silence.heldSource != -1;
    silence.declared = held || m_watch.declared().has_value();
    silence.source = held ? silence.heldSource : m_watch.declared().value_or(-1);
    Label& label = station.display.lblSilence;
    label.caption = silence.declared ? "SILENCE" : "";
    label.background = silence.declared ? std::optional(kRed) : std::nullopt;
    if (held) tryHeldSource(now);
}

void SilenceGuard::declare(std::int16_t source, double now) {
    Station& station = m_station;
    SilenceState& silence = station.silence;
    recordSilence(station, source);
    appendToErrorLog(station, kSilenceEntry, source);
    // Source 0 has nothing behind it, and in manual mode the operator decides.
    if (source == 0 || !station.automatic() || silence.heldSource != -1) return;
    silence.heldSource = source;
    silence.nextTrialAt = now + kTrialEverySeconds;
    station.spawn(eventSwitch(station, 0, SwitchCause::Silence));
}

void SilenceGuard::tryHeldSource(double now) {
    Station& station = m_station;
    SilenceState& silence = station.silence;
    if (now < silence.nextTrialAt) return;
    // A trial is a switch; it waits for its minute while another one runs,
    // in manual mode, and while a source failure keeps source 0 on air.
    if (station.switching.taken() || !station.automatic() || station.state.SilenceFlag == 1) return;
    while (silence.nextTrialAt <= now)
        silence.nextTrialAt += kTrialEverySeconds;
    station.spawn(eventSwitch(station, silence.heldSource, SwitchCause::SilenceEnded));
}

}  // namespace kestrel
