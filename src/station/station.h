#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "station/audio_levels.h"
#include "station/display_model.h"
#include "station/history.h"
#include "station/host_hooks.h"
#include "station/journal.h"
#include "station/loudness_state.h"
#include "station/order_outcomes.h"
#include "station/output_state.h"
#include "station/silence_state.h"
#include "station/station_counters.h"
#include "station/station_state.h"
#include "station/stream_intake.h"
#include "station/task.h"
#include "station/timer_table.h"

namespace kestrel {

struct FetchMetrics;

/// The one station: shared state, the window's display model, the timer table
/// and the platform it runs on. Every handler takes a Station&.
struct Station {
    /// Counts from now; journals to stderr.
    explicit Station(Platform platformIn);
    ~Station();

    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    /// Full path of a file of the station directory.
    std::filesystem::path file(std::string_view name) const { return platform.workdir / name; }

    /// Waits at least `interval` seconds on the steady clock; every other
    /// handler runs meanwhile.
    Task<> Pause(double interval);

    /// Issues one of the station's commands; the outcome is never examined.
    void run(const StationCommand& command, WindowStyle style = WindowStyle::MinimisedWithFocus);

    /// Local date and time now.
    LocalDateTime now() const { return platform.clock.now(); }

    /// AUTOMATIC mode: the event executor runs; MANUAL stops it.
    bool automatic() const;

    /// The player slot whose stream is on air: 0 while no source is.
    int onAirSlot() const { return state.CurrentSource == -1 ? 0 : state.CurrentMplayer; }

    /// A fact that decides what plays has changed: the reconciler looks again
    /// (soon, from the event loop, never inside the caller).
    void factsChanged() {
        if (m_onFactsChanged) m_onFactsChanged();
    }
    /// Who looks again when facts change (the reconciler); none: nobody.
    void setOnFactsChanged(std::function<void()> look) { m_onFactsChanged = std::move(look); }

    /// Keeps a task that nobody awaits (an operator's switch) until it ends.
    void spawn(Task<> task);
    /// The same for a task whose result nobody wants.
    void spawn(Task<bool> task);

    Platform platform;
    /// sourcelist.ini as last read; read again whenever it has changed.
    mutable CachedFile sourceListFile;
    StationState state;
    DisplayModel display;
    HostHooks* host = &m_noHost;
    /// True while the reconciler switches: a new player is starting in the
    /// idle slot beside the one on air.
    bool switching = false;
    /// What became of the orders of the operator, the API and the management server.
    OrderOutcomes orders;
    TimerTable timers;
    /// The latest source status report while it is being sent; a newer one replaces it.
    Task<> statusReport;
    /// Runs when a switch has put a source on air (the controller starts the
    /// source status report there); none: nothing runs.
    std::function<void(Station&)> afterSwitch;
    StationCounters counters;
    /// What the player slots take in, sampled every second.
    StreamIntake intake;
    /// What the player slots decode, read ten times a second.
    AudioLevels audio;
    /// The sources' loudness and the players' gains.
    LoudnessState loudness;
    SilenceState silence;
    /// Whether the players find their sound device.
    OutputState output;
    Journal journal;
    /// The last day's events and levels, for the look back; fed by the journal.
    History history;
    /// Fetch durations per fetcher instance, when the host measures them.
    const FetchMetrics* fetchMetrics = nullptr;

    /// Takes note of what an append to the history file came to.
    void noteHistoryWrite(History::Appended appended);

private:
    void keepInHistory(std::string_view event, std::initializer_list<Journal::Field> fields);

    HostHooks m_noHost;
    std::function<void()> m_onFactsChanged;
    std::vector<Task<>> m_spawned;
};

}  // namespace kestrel
