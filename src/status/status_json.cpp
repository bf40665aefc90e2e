#include "status/status_json.h"

#include "playback/loudness_gain.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "station/utf8_text.h"

namespace kestrel {
namespace {

using Json = nlohmann::ordered_json;

// A caption as the window shows it: UTF-8, cut at a character boundary.
std::string shown(const std::string& caption) {
    std::string text = utf8FromStationText(caption);
    if (text.size() > static_cast<std::size_t>(kLongestCaptionShown)) {
        std::size_t end = kLongestCaptionShown;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text.resize(end);
    }
    return text;
}

Json colour(const std::optional<Rgb>& rgb) {
    if (!rgb) return nullptr;
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb->r, rgb->g, rgb->b);
    return text;
}

Json windowLabels(const DisplayModel& display) {
    Json labels = Json::object();
    for (const auto& entry : kDisplayLabels) {
        const Label& label = display.*entry.member;
        labels[entry.name] = {{"caption", shown(label.caption)},
                              {"background", colour(label.background)},
                              {"foreground", colour(label.foreground)}};
    }
    return labels;
}

Json counts(const StationCounters& counters) {
    Json switches = Json::object();
    for (const SwitchCause cause : kSwitchCauses)
        switches[std::string(causeName(cause))] = counters.switchesBy(cause);
    return {{"switches", switches},
            {"playerRestarts", counters.playerRestarts},
            {"stalls", counters.stalls},
            {"switchFailures", counters.switchFailures},
            {"failovers", counters.failovers}};
}

// The files whose latest write failed, with why.
Json unwritableFiles(const StationCounters& counters) {
    Json files = Json::array();
    for (const auto& [file, writes] : counters.fileWrites) {
        if (!writes.error.empty())
            files.push_back(
                {{"file", shown(file)}, {"error", writes.error}, {"failures", writes.failures}});
    }
    return files;
}

// The on-air slot's intake in bits per second; null when unknown.
Json receivedBitsPerSecond(const Station& station) {
    const auto rate = station.intake.bitsPerSecond(station.onAirSlot());
    return rate ? Json(std::llround(*rate)) : Json(nullptr);
}

// One slot's levels, or null while it has no data.
Json slotAudio(const std::optional<ChannelLevels>& levels) {
    if (!levels) return nullptr;
    const auto rounded = [](const std::vector<double>& values) {
        Json list = Json::array();
        for (const double v : values)
            list.push_back(shownDbfs(v));
        return list;
    };
    return {{"rmsDbfs", rounded(levels->rmsDbfs)}, {"peakDbfs", rounded(levels->peakDbfs)}};
}

Json audio(const Station& station) {
    const SilenceState& silence = station.silence;
    return {{"slot1", slotAudio(station.audio.of(1))},
            {"slot2", slotAudio(station.audio.of(2))},
            {"silence",
             {{"declared", silence.declared},
              {"source", silence.declared ? Json(silence.source) : Json(nullptr)},
              {"silentSeconds", std::round(silence.silentSeconds * 10) / 10}}},
            {"output", {{"failed", station.output.failed}, {"failures", station.output.failures}}}};
}

// Each source that plays or has an estimate: its short-term loudness while it
// plays, the gain it plays (or would start) at, and the estimate.
Json loudness(const Station& station) {
    const auto tenth = [](std::optional<double> v) {
        return v ? Json(std::round(*v * 10) / 10) : Json(nullptr);
    };
    Json sources = Json::array();
    for (const LoudnessRow& row : loudnessRows(station.loudness, station.state.TargetLoudness)) {
        sources.push_back({{"source", row.source},
                           {"slot", row.slot},
                           {"lufs", tenth(row.lufs)},
                           {"gainDb", tenth(row.gainDb)},
                           {"estimateLufs", tenth(row.estimateLufs)}});
    }
    const int target = station.state.TargetLoudness;
    return {{"targetLufs", target == 0 ? Json(nullptr) : Json(target)}, {"sources", sources}};
}

}  // namespace

bool playerRunning(const Station& station, int slot) {
    const Label& label = slot == 1 ? station.display.lblMplayer1 : station.display.lblMplayer2;
    return label.caption == std::to_string(slot);
}

std::string onAirSummary(const Station& station) {
    const StationState& state = station.state;
    std::string line = "On air: nothing";
    if (state.CurrentSource != -1) {
        line = "On air: source " + std::to_string(state.CurrentSource) + " " +
               utf8FromStationText(station.display.lblStudio.caption);
    }
    if (state.PendingSource != -1)
        line += ", pending source " + std::to_string(state.PendingSource);
    if (state.SilenceFlag == 1) line += ", source failure declared";
    return line;
}

std::string statusJson(const Station& station) {
    const StationState& state = station.state;
    const DisplayModel& d = station.display;
    Json choices = Json::array();
    for (const auto& item : d.comboSourceList.items)
        choices.push_back(shown(item));

    const Json status = {
        {"version", KESTREL_VERSION},
        {"station", shown(state.StationName)},
        {"startTime", station.counters.startTime},
        {"onAir",
         {{"source", state.CurrentSource},
          {"name", shown(d.lblStudio.caption)},
          {"url", shown(d.lblCurrentSource.caption)},
          {"slot", state.CurrentMplayer}}},
        {"pending", {{"source", state.PendingSource}}},
        {"mode", d.cmdAutoManual.caption == "AUTOMATIC" ? "automatic" : "manual"},
        {"clock", {{"time", shown(d.lblClock.caption)}, {"date", shown(d.lblDate.caption)}}},
        {"schedule",
         {{"last", shown(state.LastEvent)},
          {"next", shown(state.NextEvent)},
          {"lastShown", shown(d.lblLastEvent.caption)},
          {"nextShown", shown(d.lblNextEvent.caption)}}},
        {"players",
         {{"slot1", playerRunning(station, 1)},
          {"slot2", playerRunning(station, 2)},
          {"status", shown(d.lblStatus.caption)}}},
        {"stream",
         {{"title", shown(d.lblRXmetadata.caption)},
          {"name", shown(d.lblStreamName.caption)},
          {"genre", shown(d.lblStreamGenre.caption)},
          {"website", shown(d.lblStreamWebsite.caption)},
          {"public", shown(d.lblStreamPublic.caption)},
          {"bitrate", shown(d.lblStreamBitrate.caption)},
          {"codec", shown(d.lblStreamCodec.caption)},
          {"received", shown(d.lblStreamReceived.caption)},
          {"receivedBitsPerSecond", receivedBitsPerSecond(station)},
          {"titleUpdated", station.counters.metadataUpdated}}},
        {"metadata",
         {{"output", shown(d.lblMetadataOutput.caption)},
          {"extra", shown(d.lblMetadataExtra.caption)},
          {"weather", shown(d.lblWeather.caption)},
          {"weatherText", shown(d.lblWeatherText.caption)}}},
        {"failure",
         {{"declared", state.SilenceFlag == 1},
          {"status", shown(d.lblFailText.caption)},
          {"url", shown(d.lblFailURL.caption)},
          {"checkTime", shown(d.lblFailCheckTime.caption)},
          {"failedChecks", state.LinkFailCount}}},
        {"services",
         {{"management", shown(d.lblConfigurationStatus.caption)},
          {"api", shown(d.lblAPIstatus.caption)},
          {"tuneInAir", shown(d.lblTuneInAir.caption)},
          {"airArtist", shown(d.lblAIRartist.caption)},
          {"airTitle", shown(d.lblAIRtitle.caption)},
          {"airUpdated", shown(d.lblAIRupdated.caption)}}},
        {"audio", audio(station)},
        {"loudness", loudness(station)},
        {"counts", counts(station.counters)},
        {"unwritableFiles", unwritableFiles(station.counters)},
        {"operator",
         {{"selection", shown(d.comboSourceList.text)},
          {"choices", choices},
          {"switchEnabled", d.cmdForceSwitch.enabled}}},
        {"window", windowLabels(d)},
    };
    return status.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kestrel
