#pragma once

#include "metadata/now_playing.h"
#include "monitoring/loudness_control.h"
#include "monitoring/silence_guard.h"
#include "playback/player_monitor.h"
#include "playback/reconciler.h"
#include "station/station.h"
#include "station/timer_names.h"

namespace kestrel {

/// The main window's logic without the window: owns the station, registers
/// its timers, runs the start-up sequence and the operator commands.
class StationController {
public:
    explicit StationController(Platform platform);

    Station& station() { return m_station; }
    const Station& station() const { return m_station; }

    /// The start-up sequence (the window host has already sized the window):
    /// reset, configuration, the first look at the schedule, the services.
    void startUp();

    // Operator commands. A switch asked for while one runs replaces it.
    void cmdForceSwitch_Click();
    void cmdAutoManual();
    void cmdFullScreen();
    void cmdViewSource();
    void cmdViewEvents();
    void cmdEnd();
    void cmdTerminate();
    void windowClosed();

    /// `tmrCounter`: TimerCount 1, 2, ... 120, 0, 1, ...
    void tickCounter();
    /// `tmrUpdateDisplay`: slot in use, the PLAY/STOP lamp and the pending source.
    void updateDisplay();
    /// `tmrReadLevels`: both slots' audio, the loudness and gains, and a look
    /// at the air for silence.
    void tmrReadLevels();

private:
    void registerTimers();
    /// The on-air slot's loudest channel into the history's minute levels.
    void sampleOnAirLevel();
    /// Variables and labels to their start values; players and output files
    /// of an earlier run gone.
    void reset();
    /// kestrelfield.ini into the state, its problems into the journal.
    void readConfiguration();
    /// The timers and services the configuration switches on.
    void startServices();

    Station m_station;
    Reconciler m_reconciler;
    NowPlaying m_nowPlaying;
    PlayerMonitor m_playerMonitor;
    SilenceGuard m_silenceGuard;
    LoudnessControl m_loudness;
};

}  // namespace kestrel
