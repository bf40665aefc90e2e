#include "controller/station_controller.h"

#include <algorithm>

#include "check/config_keys.h"
#include "check/station_check.h"
#include "controller/station_mode.h"
#include "management/change_poll.h"
#include "management/config_download.h"
#include "management/source_status.h"
#include "metadata/air_update.h"
#include "metadata/weather.h"
#include "monitoring/failure_detector.h"
#include "platform/profile_reader.h"
#include "platform/station_command.h"
#include "playback/orders.h"
#include "playback/player_watchdog.h"
#include "scheduler/event_calculation.h"
#include "scheduler/event_executor.h"
#include "station/station_events.h"
#include "station/tolerant_step.h"

namespace kestrel {

StationController::StationController(Platform platform)
    : m_station(platform),
      m_reconciler(m_station),
      m_nowPlaying(m_station),
      m_playerMonitor(m_station),
      m_silenceGuard(m_station),
      m_loudness(m_station) {
    m_station.afterSwitch = startSourceStatusReport;
    m_station.platform.runner.onPlayerEnded(
        [this](int slot) { m_playerMonitor.playerEnded(slot); });
    registerTimers();
    m_station.timers.start(timer::tmrCounter);  // runs from the window's creation
}

void StationController::registerTimers() {
    auto& timers = m_station.timers;
    Station& s = m_station;
    timers.add(timer::tmrCounter, 1000, [this] { tickCounter(); });
    timers.add(timer::tmrUpdateDisplay, 250, [this] { updateDisplay(); });
    timers.add(timer::tmrClockandEventCheck, 100, [&s] { tmrClockandEventCheck(s); });
    timers.add(timer::tmrGetMetadata, 10000, [this] { m_nowPlaying.tmrGetMetadata(); });
    timers.add(timer::tmrLoadEventsAndCalculate, 10000, [&s] { tmrLoadEventsAndCalculate(s); });
    timers.add(timer::tmrCheckAndDoEvents, 1000, [&s] { tmrCheckAndDoEvents(s); });
    timers.addWaiting(timer::tmrManagementDownload, 60000,
                      [&s] { return tmrManagementDownload(s); });
    timers.addWaiting(timer::tmrCheckForChanges, 60000, [&s] { return tmrCheckForChanges(s); });
    timers.add(timer::tmrCheckMplayerOK, 15000, [&s] { tmrCheckMplayerOK(s); });
    timers.add(timer::tmrCheckPlayers, 1000, [this] { m_playerMonitor.tmrCheckPlayers(); });
    timers.addWaiting(timer::tmrAirUpdate, 5000, [&s] { return tmrAirUpdate(s); });
    timers.addWaiting(timer::tmrWeather, 1000, [&s] { return tmrWeather(s); });
    timers.addWaiting(timer::tmrSourceCheck, 15000, [&s] { return tmrSourceCheck(s); });
    timers.add(timer::tmrReadLevels, 100, [this] {
        tmrReadLevels();
        sampleOnAirLevel();
    });
}

void StationController::tmrReadLevels() {
    Station& station = m_station;
    const double now = station.platform.clock.steadySeconds();
    for (const int slot : {1, 2}) {
        std::optional<AudioBlock> heard;
        std::optional<AudioBlock> sent;
        tolerate([&] { heard = station.platform.levels.read(slot, TapPoint::Heard); });
        tolerate([&] { sent = station.platform.levels.read(slot, TapPoint::Source); });
        station.audio.slot(slot).take(now, heard);
        station.audio.sent(slot).take(now, sent);
        m_loudness.take(slot, now, sent);
    }
    m_loudness.adjust(now);
    m_silenceGuard.look(now);
}

void StationController::readConfiguration() {
    const auto& dir = m_station.platform.workdir;
    readConfigKeys(dir, dir.string(), m_station.state);
    for (const std::string& problem : stationFindings(dir).report())
        recordConfigurationProblem(m_station, problem);
    m_station.display.lblMetadataOutput.caption = m_station.state.DefaultStrapline;
}

void StationController::startUp() {
    m_station.noteHistoryWrite(m_station.history.open(m_station.file(kHistoryFile),
                                                      m_station.platform.clock.epochSeconds()));
    reset();
    readConfiguration();
    m_loudness.loadEstimates();
    tmrLoadEventsAndCalculate(m_station);  // the first look at the schedule
    startServices();
}

void StationController::reset() {
    auto& st = m_station.state;
    auto& display = m_station.display;
    st.MinMax = 0;
    st.APIallowed = "0";
    st.AIRenable = "0";
    st.APIkey.clear();
    st.AIRLastArtist.clear();
    st.AIRLastTitle.clear();
    st.AIRdefaultTitle.clear();
    st.AIRdefaultArtist.clear();
    st.WeatherCounter = 0;
    st.TimerCount = 0;
    st.CurrentMplayer = 0;
    st.CurrentSource = -1;
    st.WasPlaying = -1;
    st.PendingSource = -1;
    st.ScheduledWish = {};
    st.LatestOrder = {};
    st.FailedTries.clear();
    st.NextEvent = kNoEvent;
    st.LastEvent = kNoEvent;
    st.ManagementCounter = 0;
    st.SilenceFlag = 0;
    st.LinkFailCount = 0;
    display.lblMplayer1.caption.clear();
    display.lblMplayer2.caption.clear();
    display.lblSilence.caption.clear();
    display.comboSourceList.items.clear();
    for (int n = 0; n <= 9; ++n) {
        const std::string digit = std::to_string(n);
        display.comboSourceList.items.push_back(digit + " Select Source number " + digit);
    }

    // Players and output files a previous run left behind.
    m_station.run(StopPlayer{1});
    m_station.run(StopPlayer{2});
    m_station.run(DeleteFile{"mplayer.log"});
    m_station.run(DeleteFile{"metadata.txt"});
    m_station.run(DeleteFile{"metaextra.txt"});
}

void StationController::startServices() {
    auto& st = m_station.state;
    auto& display = m_station.display;
    auto& timers = m_station.timers;

    timers.start(timer::tmrUpdateDisplay);
    timers.start(timer::tmrClockandEventCheck);
    timers.start(timer::tmrGetMetadata);
    timers.start(timer::tmrLoadEventsAndCalculate);
    timers.start(timer::tmrCheckAndDoEvents);

    if (st.ManagementUpdate > 0) {
        timers.start(timer::tmrManagementDownload);
        display.lblConfigurationStatus.caption = "Management server configured";
    }
    if (st.CheckForChanges == 1) timers.start(timer::tmrCheckForChanges);

    // The audio input capture is not opened on Linux: nothing reads it, and a
    // missing device must not hold up an unattended start.

    timers.start(timer::tmrCheckMplayerOK);
    timers.start(timer::tmrCheckPlayers);
    timers.start(timer::tmrReadLevels);

    if (st.APIallowed == "1") {
        display.lblAPIstatus.caption = "API Interface Enabled";
        m_station.host->showApiWindow();
    }
    if (st.AIRenable == "1") {
        display.lblTuneInAir.caption = "TuneIn AIR Service Enabled";
        timers.start(timer::tmrAirUpdate);
    }
    if (st.MetaWeather != "1") {
        display.lblWeather.caption = "WEATHER NOT ENABLED";
    } else {
        timers.start(timer::tmrWeather);
        display.lblWeather.caption = "NO WEATHER";
    }
    if (st.CheckSource == "1") {
        display.lblFailText.caption = "WAITING";
        display.lblFailCheckTime.caption = "NONE";
        display.lblFailURL.caption = "PERFORMING INITIAL CHECKS";
        timers.start(timer::tmrSourceCheck);
    } else {
        display.lblFailText.caption = "DISABLED";
        display.lblFailURL.caption = "NONE";
        display.lblFailCheckTime.caption = "NONE";
    }
}

void StationController::sampleOnAirLevel() {
    std::optional<double> loudest;
    const int slot = m_station.onAirSlot();
    if (const auto& levels = m_station.audio.slot(slot).levels(); slot != 0 && levels) {
        for (const double rms : levels->rmsDbfs)
            loudest = std::max(loudest.value_or(rms), rms);
    }
    m_station.noteHistoryWrite(m_station.history.sampleLevel(
        m_station.platform.clock.epochSeconds(), m_station.state.CurrentSource, loudest));
}

void StationController::tickCounter() {
    auto& count = m_station.state.TimerCount;
    count = static_cast<std::int16_t>(count + 1);
    if (count > 120) count = 0;
}

void StationController::updateDisplay() {
    auto& display = m_station.display;
    const auto slot = m_station.state.CurrentMplayer;
    display.lblMplayer.caption = slot == 0 ? "None" : std::to_string(slot);
    const bool playing = slot != 0;
    display.lblStatus.caption = playing ? "PLAY" : "STOP";
    display.lblStatus.background = playing ? kGreen : kRed;
    display.lblStatus2.background = playing ? kGreen : kRed;

    const auto pending = m_station.state.PendingSource;
    display.lblPendingSource.caption =
        pending == -1 ? "" : "Waiting for source " + std::to_string(pending);
    display.lblPendingSource.background = pending == -1 ? std::nullopt : std::optional(kRed);
    display.lblPendingSource.foreground = pending == -1 ? std::nullopt : std::optional(kWhite);
}

void StationController::cmdForceSwitch_Click() {
    m_station.spawn(kestrel::cmdForceSwitch_Click(m_station));
}

void StationController::cmdAutoManual() {
    setMode(m_station, m_station.display.cmdAutoManual.caption != "AUTOMATIC", "operator");
}

void StationController::cmdFullScreen() {
    auto& st = m_station.state;
    st.MinMax = st.MinMax == 0 ? 1 : 0;
    m_station.display.cmdFullScreen.caption = st.MinMax == 0 ? "FULL SCREEN" : "NORMAL";
    m_station.host->setMaximised(st.MinMax == 1);
}

void StationController::cmdViewSource() {
    m_station.run(OpenEditor{"sourcelist.ini"}, WindowStyle::NormalWithFocus);
}

void StationController::cmdViewEvents() {
    m_station.run(OpenEditor{"sourceevents.ini"}, WindowStyle::NormalWithFocus);
}

void StationController::cmdEnd() {
    m_station.host->endProgram();
}

void StationController::cmdTerminate() {
    m_station.run(StopPlayer{1});
    m_station.run(StopPlayer{2});
    m_station.host->endProgram();
}

void StationController::windowClosed() {
    m_station.host->endProgram();
}

}  // namespace kestrel
