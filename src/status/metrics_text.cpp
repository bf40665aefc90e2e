#include "status/metrics_text.h"

#include "playback/loudness_gain.h"

#include <charconv>
#include <cmath>

#include "platform/timed_fetcher.h"
#include "station/utf8_text.h"
#include "status/status_json.h"

namespace kestrel {
namespace {

// Appends one metric family in the exposition format.
class Exposition {
public:
    void family(const char* name, const char* type, const char* help) {
        m_text += "# HELP ";
        m_text += name;
        m_text += ' ';
        m_text += help;
        m_text += "\n# TYPE ";
        m_text += name;
        m_text += ' ';
        m_text += type;
        m_text += '\n';
    }

    /// One sample; `labels` is empty or the text between the braces.
    void sample(std::string_view name, const std::string& labels, double value) {
        m_text += name;
        if (!labels.empty()) {
            m_text += '{';
            m_text += labels;
            m_text += '}';
        }
        m_text += ' ';
        m_text += number(value);
        m_text += '\n';
    }

    static std::string number(double value) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        return std::string(text, end);
    }

    /// name="value" with the value escaped as the format asks.
    static std::string label(std::string_view name, std::string_view value) {
        std::string text(name);
        text += "=\"";
        for (const char c : value) {
            if (c == '\\' || c == '"') text += '\\';
            text += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        return text + '"';
    }

    std::string text() && { return std::move(m_text); }

private:
    std::string m_text;
};

void fetchFamilies(Exposition& out, const FetchMetrics* metrics) {
    out.family("kestrelfield_fetch_duration_seconds", "histogram",
               "Time from the start of a URL fetch to its result, by fetcher instance.");
    if (metrics) {
        for (const auto& [name, stats] : metrics->byFetcher) {
            const std::string fetcher = Exposition::label("fetcher", name);
            std::uint64_t cumulative = 0;
            for (std::size_t i = 0; i < kFetchDurationBuckets.size(); ++i) {
                cumulative += stats.inBucket[i];
                out.sample(
                    "kestrelfield_fetch_duration_seconds_bucket",
                    fetcher + "," +
                        Exposition::label("le", Exposition::number(kFetchDurationBuckets[i])),
                    static_cast<double>(cumulative));
            }
            out.sample("kestrelfield_fetch_duration_seconds_bucket", fetcher + ",le=\"+Inf\"",
                       static_cast<double>(stats.count));
            out.sample("kestrelfield_fetch_duration_seconds_sum", fetcher, stats.sumSeconds);
            out.sample("kestrelfield_fetch_duration_seconds_count", fetcher,
                       static_cast<double>(stats.count));
        }
    }
    out.family("kestrelfield_fetch_failures_total", "counter",
               "URL fetches that got no answer or one outside 2xx, by fetcher instance.");
    if (metrics) {
        for (const auto& [name, stats] : metrics->byFetcher) {
            out.sample("kestrelfield_fetch_failures_total", Exposition::label("fetcher", name),
                       static_cast<double>(stats.failures));
        }
    }
}

void audioFamilies(Exposition& out, const Station& station) {
    const auto perChannel = [&](const char* name, std::vector<double> ChannelLevels::*values) {
        for (const int slot : {1, 2}) {
            const auto levels = station.audio.of(slot);
            if (!levels) continue;  // no data: no sample, never a made-up silence
            const auto& list = *levels.*values;
            for (std::size_t channel = 0; channel < list.size(); ++channel) {
                out.sample(name,
                           Exposition::label("slot", std::to_string(slot)) + "," +
                               Exposition::label("channel", std::to_string(channel)),
                           shownDbfs(list[channel]));
            }
        }
    };
    out.family("kestrelfield_audio_rms_dbfs", "gauge",
               "RMS level over the last 300 ms of what the player slot decodes, dBFS.");
    perChannel("kestrelfield_audio_rms_dbfs", &ChannelLevels::rmsDbfs);
    out.family("kestrelfield_audio_peak_dbfs", "gauge",
               "Peak level over the last 300 ms of what the player slot decodes, dBFS.");
    perChannel("kestrelfield_audio_peak_dbfs", &ChannelLevels::peakDbfs);
    const auto rows = loudnessRows(station.loudness, station.state.TargetLoudness);
    out.family("kestrelfield_source_loudness_lufs", "gauge",
               "Short-term loudness (3 s, BS.1770) of what a playing source sends, LUFS.");
    for (const LoudnessRow& row : rows) {
        if (!row.lufs) continue;  // not playing, or silent: no made-up figure
        out.sample("kestrelfield_source_loudness_lufs",
                   Exposition::label("source", std::to_string(row.source)),
                   std::round(*row.lufs * 10) / 10);
    }
    out.family("kestrelfield_source_gain_db", "gauge",
               "Gain a playing source is played at to reach TargetLoudness, dB.");
    for (const LoudnessRow& row : rows) {
        if (row.slot == 0) continue;
        out.sample("kestrelfield_source_gain_db",
                   Exposition::label("source", std::to_string(row.source)),
                   std::round(row.gainDb * 10) / 10);
    }
    out.family("kestrelfield_silence", "gauge", "1 while a silence on air is declared, else 0.");
    out.sample("kestrelfield_silence", "", station.silence.declared ? 1 : 0);
    out.family("kestrelfield_silences_total", "counter", "Silences on air declared since start.");
    out.sample("kestrelfield_silences_total", "", static_cast<double>(station.silence.count));
    out.family("kestrelfield_output_failed", "gauge",
               "1 while the players find no sound device, else 0.");
    out.sample("kestrelfield_output_failed", "", station.output.failed ? 1 : 0);
    out.family("kestrelfield_output_failures_total", "counter",
               "Sound device failures declared since start.");
    out.sample("kestrelfield_output_failures_total", "",
               static_cast<double>(station.output.failures));
}

}  // namespace

std::string metricsText(const Station& station) {
    const StationState& state = station.state;
    const StationCounters& counters = station.counters;
    Exposition out;
    out.family("kestrelfield_build_info", "gauge", "Always 1; the version is a label.");
    out.sample("kestrelfield_build_info", Exposition::label("version", KESTREL_VERSION), 1);
    // Prometheus tells stations apart by instance; this names the one behind each.
    out.family("kestrelfield_info", "gauge",
               "Always 1; the station's name and version are labels.");
    out.sample("kestrelfield_info",
               Exposition::label("station", utf8FromStationText(state.StationName)) + "," +
                   Exposition::label("version", KESTREL_VERSION),
               1);
    out.family("kestrelfield_start_time_seconds", "gauge", "Start of the station, Unix time.");
    out.sample("kestrelfield_start_time_seconds", "", counters.startTime);
    out.family("kestrelfield_on_air_source", "gauge", "Source that should be on air; -1 none.");
    out.sample("kestrelfield_on_air_source", "", state.CurrentSource);
    out.family("kestrelfield_pending_source", "gauge",
               "Source started but not yet on air; -1 none.");
    out.sample("kestrelfield_pending_source", "", state.PendingSource);
    out.family("kestrelfield_automatic_mode", "gauge", "1 in automatic mode, 0 in manual mode.");
    out.sample("kestrelfield_automatic_mode", "",
               station.display.cmdAutoManual.caption == "AUTOMATIC" ? 1 : 0);
    out.family("kestrelfield_player_running", "gauge",
               "1 when the watchdog's last check found the player slot's process running.");
    for (const int slot : {1, 2}) {
        out.sample("kestrelfield_player_running", Exposition::label("slot", std::to_string(slot)),
                   playerRunning(station, slot) ? 1 : 0);
    }
    out.family("kestrelfield_switches_total", "counter", "Switches since start, by cause.");
    for (const SwitchCause cause : kSwitchCauses) {
        out.sample("kestrelfield_switches_total", Exposition::label("cause", causeName(cause)),
                   static_cast<double>(counters.switchesBy(cause)));
    }
    out.family("kestrelfield_last_switch_timestamp_seconds", "gauge",
               "When the latest switch ended, Unix time; 0 never.");
    out.sample("kestrelfield_last_switch_timestamp_seconds", "", counters.lastSwitch);
    out.family("kestrelfield_player_restarts_total", "counter",
               "Times the watchdog found no player running and restarted the source.");
    out.sample("kestrelfield_player_restarts_total", "",
               static_cast<double>(counters.playerRestarts));
    out.family("kestrelfield_stream_stalls_total", "counter",
               "Times the stream on air stalled and its source was started again.");
    out.sample("kestrelfield_stream_stalls_total", "", static_cast<double>(counters.stalls));
    out.family("kestrelfield_stream_received_bytes_total", "counter",
               "Bytes the player slot's processes have taken in since start.");
    for (const int slot : {1, 2}) {
        out.sample("kestrelfield_stream_received_bytes_total",
                   Exposition::label("slot", std::to_string(slot)),
                   static_cast<double>(station.intake.totalBytes(slot)));
    }
    out.family("kestrelfield_switch_failures_total", "counter",
               "Switches whose new source never played.");
    out.sample("kestrelfield_switch_failures_total", "",
               static_cast<double>(counters.switchFailures));
    out.family("kestrelfield_failovers_total", "counter",
               "Source failures declared (the backup source went on air).");
    out.sample("kestrelfield_failovers_total", "", static_cast<double>(counters.failovers));
    out.family("kestrelfield_api_connections_evicted_total", "counter",
               "API connections closed to admit new ones, by reason.");
    for (const ApiEviction reason : kApiEvictions) {
        out.sample("kestrelfield_api_connections_evicted_total",
                   Exposition::label("reason", evictionName(reason)),
                   static_cast<double>(counters.apiEvictionsBy(reason)));
    }
    out.family("kestrelfield_write_failures_total", "counter",
               "Failed writes of a station file written whole, by file; the old content stays.");
    for (const auto& [file, writes] : counters.fileWrites) {
        out.sample("kestrelfield_write_failures_total", Exposition::label("file", file),
                   static_cast<double>(writes.failures));
    }
    out.family("kestrelfield_source_failure", "gauge",
               "1 while a source failure is declared, else 0.");
    out.sample("kestrelfield_source_failure", "", state.SilenceFlag == 1 ? 1 : 0);
    out.family("kestrelfield_metadata_updated_timestamp_seconds", "gauge",
               "When the stream title last changed, Unix time; 0 never.");
    out.sample("kestrelfield_metadata_updated_timestamp_seconds", "", counters.metadataUpdated);
    audioFamilies(out, station);
    fetchFamilies(out, station.fetchMetrics);
    return std::move(out).text();
}

}  // namespace kestrel
