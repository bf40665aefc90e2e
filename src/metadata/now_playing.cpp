#include "metadata/now_playing.h"

#include "station/station_events.h"
#include "station/station_files.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

void show(Label& label, const std::optional<std::string>& value) {
    if (value) label.caption = *value;
}

}  // namespace

std::string nowPlayingLine(const std::string& streamTitle, const std::string& defaultStrapline) {
    std::string line = streamTitle.size() > 6 ? streamTitle : defaultStrapline;
    if (line.starts_with(" - ")) line.erase(0, 3);
    return line;
}

std::string extraLine(const std::string& nowPlaying, const StationState& state,
                      const std::string& weatherSentence) {
    const std::string& exception = state.DoNotPrefixWhenContains;
    const bool excepted = exception.size() >= 2 && nowPlaying.size() >= exception.size() + 3 &&
                          nowPlaying.find(exception) != std::string::npos;
    std::string extra = nowPlaying;
    if (!excepted && state.ExtraMetaNowPlaying != "OFF") {
        extra = state.ExtraMetaNowPlaying + " " + nowPlaying;
    }
    if (state.MetaWeather == "1" && weatherSentence.size() > 10 && state.TimerCount > 60) {
        extra = weatherSentence;
    }
    return extra;
}

void NowPlaying::readPlayerLog() {
    const int slot = m_station.state.CurrentMplayer;
    if (slot == 0) return;
    if (slot != m_logSlot) {
        m_log.forget();  // a switch always starts a new log
        m_logSlot = slot;
    }
    const std::string digits = std::to_string(slot);
    const std::string logName = "mplayer" + digits.substr(digits.size() - 1) + ".log";
    if (m_log.update(m_station.file(logName)) != PlayerLogReader::Outcome::Read) return;

    const PlayerLogFields fields = m_log.fields();
    auto& display = m_station.display;
    show(display.lblStreamName, fields.name);
    show(display.lblStreamGenre, fields.genre);
    show(display.lblStreamWebsite, fields.website);
    show(display.lblStreamPublic, fields.publicFlag);
    show(display.lblStreamBitrate, fields.bitrate);
    show(display.lblStreamCodec, fields.codec);
    if (fields.title) recordStreamTitle(m_station, *fields.title);
    show(display.lblRXmetadata, fields.title);
}

void NowPlaying::tmrGetMetadata() {
    tolerate([this] { readPlayerLog(); });

    auto& state = m_station.state;
    auto& display = m_station.display;
    const std::string line = nowPlayingLine(display.lblRXmetadata.caption, state.DefaultStrapline);
    tolerate([&] { writeStationFile(m_station, "metadata.txt", line + "\r\n"); });
    display.lblMetadataOutput.caption = line;

    const std::string extra = extraLine(line, state, display.lblWeatherText.caption);
    display.lblMetadataExtra.caption = extra;
    tolerate([&] { writeStationFile(m_station, "metaextra.txt", extra + "\r\n"); });
}

}  // namespace kestrel
