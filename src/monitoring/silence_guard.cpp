#include "monitoring/silence_guard.h"

#include "playback/error_log.h"
#include "station/station_events.h"
#include "station/tolerant_step.h"

namespace kestrel {

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
    // Sound back on a held source that never left the air: nothing to fall back from.
    if (change == SilenceWatch::Change::Ended &&
        silence.heldSource == station.state.CurrentSource) {
        endSilenceHold(station, "sound");
        station.factsChanged();
    }

    const bool held = silence.heldSource != -1;
    silence.declared = held || m_watch.declared().has_value();
    silence.source = held ? silence.heldSource : m_watch.declared().value_or(-1);
    Label& label = station.display.lblSilence;
    label.caption = silence.declared ? "SILENCE" : "";
    label.background = silence.declared ? std::optional(kRed) : std::nullopt;
}

void SilenceGuard::declare(std::int16_t source, double now) {
    Station& station = m_station;
    SilenceState& silence = station.silence;
    recordSilence(station, source);
    appendToErrorLog(station, kSilenceEntry, source);
    // Source 0 has nothing behind it, and in manual mode the operator decides.
    if (source == 0 || !station.automatic() || silence.heldSource != -1) return;
    silence.heldSource = source;
    silence.nextTrialAt = now + kSilenceTrialEverySeconds;
    station.factsChanged();
}

}  // namespace kestrel
