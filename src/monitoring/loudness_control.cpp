#include "monitoring/loudness_control.h"

#include <cmath>

#include "platform/file_io.h"
#include "platform/station_command.h"
#include "playback/loudness_estimates.h"
#include "playback/loudness_gain.h"
#include "playback/player_start.h"
#include "station/station_files.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// A player's log is looked at this often for its sample rate.
constexpr double kLogEverySeconds = 1;
constexpr int kLogLooks = 15;
// Without a rate in the log, blocks are measured as CD audio.
constexpr int kAssumedRate = 44100;
// The estimates file is written at most this often, and only when an
// estimate has moved this far.
constexpr double kWriteEverySeconds = 60;
constexpr double kWriteOnChangeLu = 0.5;
// Volume changes smaller than this are not sent.
constexpr double kSmallestStepDb = 0.05;

}  // namespace

void applySlotVolume(Station& station, int slot) {
    SlotLoudness& player = station.loudness.slot(slot);
    const std::optional<double> level =
        player.fadeDb ? std::optional(player.gainDb + *player.fadeDb) : std::nullopt;
    const double volume = playerVolume(level);
    if (player.volume) {
        const double was = *player.volume;
        if (volume == was) return;
        if (volume > 0 && was > 0 && std::abs(20 * std::log10(volume / was)) < kSmallestStepDb)
            return;
    }
    bool sent = false;
    tolerate([&] { sent = station.platform.control.send(slot, volumeCommand(level)); });
    if (sent) player.volume = volume;
}

void LoudnessControl::loadEstimates() {
    if (m_station.state.TargetLoudness == 0) return;
    std::string text;
    if (!readWholeFile(m_station.file(kLoudnessFile), text)) return;
    m_station.loudness.sources = parseLoudnessEstimates(text);
    for (const auto& [source, loudness] : m_station.loudness.sources)
        m_written[source] = loudness.estimateLufs;
}

void LoudnessControl::take(int slot, double nowSeconds, const std::optional<AudioBlock>& sent) {
    SlotMeasure& measure = m_slots[slot - 1];
    const SlotLoudness& player = m_station.loudness.slot(slot);
    if (measure.starts != player.starts) {
        measure = SlotMeasure();
        measure.starts = player.starts;
    }
    // The rate comes before playback: a log without it after a few looks has none.
    if (measure.sampleRate == 0 && measure.logReads < kLogLooks &&
        (nowSeconds - measure.logReadAt >= kLogEverySeconds || measure.logReadAt < 0)) {
        measure.logReadAt = nowSeconds;
        ++measure.logReads;
        if (measure.log.update(m_station.file(playerLogFile(slot))) ==
                PlayerLogReader::Outcome::Read &&
            measure.log.fields().audioFormat) {
            measure.sampleRate = sampleRateOf(*measure.log.fields().audioFormat);
        }
    }
    if (!sent) {
        measure.counter.reset();
        return;
    }
    const bool rose = measure.counter && *measure.counter != sent->counter;
    measure.counter = sent->counter;
    if (!rose) return;
    const int rate = measure.sampleRate > 0 ? measure.sampleRate : kAssumedRate;
    std::optional<double> lufs;
    tolerate([&] { lufs = m_station.platform.loudness.blockLoudness(slot, *sent, rate); });
    if (lufs) measure.shortTerm.add(nowSeconds, *lufs);
}

void LoudnessControl::adjust(double nowSeconds) {
    const double seconds = m_lastAdjust ? nowSeconds - *m_lastAdjust : 0;
    m_lastAdjust = nowSeconds;
    for (const int slot : {1, 2})
        adjustSlot(slot, seconds, nowSeconds);
    writeEstimates(nowSeconds);
}

void LoudnessControl::adjustSlot(int slot, double seconds, double nowSeconds) {
    Station& station = m_station;
    SlotLoudness& player = station.loudness.slot(slot);
    SlotMeasure& measure = m_slots[slot - 1];
    player.shortTermLufs = measure.shortTerm.lufs(nowSeconds);
    if (player.source < 0 || !station.audio.judged(slot).lastRise()) return;
    const int target = station.state.TargetLoudness;
    const bool sounding = player.shortTermLufs && *player.shortTermLufs >= kLoudnessGateLufs;
    SourceLoudness& source = station.loudness.sources[player.source];
    if (source.address != player.address) source = SourceLoudness{player.address};
    const bool settling = source.heardSeconds < kSettlingSeconds;
    if (sounding) takeIntoEstimate(source, *player.shortTermLufs, seconds);
    // A pause moves no gain: the programme comes back at the level it left.
    if (target != 0 && sounding && source.heardSeconds > 0) {
        player.gainDb =
            nextGainDb(player.gainDb, wantedGainDb(target, source.estimateLufs), seconds, settling);
    } else if (target == 0) {
        player.gainDb = 0;
    }
    applySlotVolume(station, slot);
}

void LoudnessControl::writeEstimates(double nowSeconds) {
    if (m_station.state.TargetLoudness == 0 || nowSeconds - m_writtenAt < kWriteEverySeconds)
        return;
    bool moved = false;
    for (const auto& [source, loudness] : m_station.loudness.sources) {
        if (loudness.heardSeconds < kSettlingSeconds) continue;
        const auto written = m_written.find(source);
        moved = moved || written == m_written.end() ||
                std::abs(written->second - loudness.estimateLufs) >= kWriteOnChangeLu;
    }
    if (!moved) return;
    m_writtenAt = nowSeconds;
    if (!writeStationFile(m_station, kLoudnessFile,
                          formatLoudnessEstimates(m_station.loudness.sources)))
        return;
    m_written.clear();
    for (const auto& [source, loudness] : m_station.loudness.sources)
        if (loudness.heardSeconds >= kSettlingSeconds) m_written[source] = loudness.estimateLufs;
}

}  // namespace kestrel
