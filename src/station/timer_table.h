#pragma once

#include <functional>
#include <string>
#include <vector>

#include "station/task.h"

namespace kestrel {

/// The station's timers: name, interval, handler and whether it runs. The host
/// (Qt or simulated) runs the enabled ones; the core switches them on and off
/// through this table. A tick that falls due while the handler's previous run
/// still waits (for a fetch or a switch) is skipped, never made up, so every
/// handler sees its own answer before its next run.
class TimerTable {
public:
    struct Timer {
        std::string name;
        int intervalMs = 0;
        std::function<void()> handler;       ///< runs to its end at once
        std::function<Task<>()> waitingRun;  ///< or: may wait, see `running`
        bool enabled = false;
        Task<> running;   ///< the latest run of a waiting handler
        int skipped = 0;  ///< ticks skipped while a run waited
    };

    /// Adds a stopped timer whose handler runs to its end at once; names are unique.
    void add(std::string name, int intervalMs, std::function<void()> handler);
    /// Adds a stopped timer whose handler may wait.
    void addWaiting(std::string name, int intervalMs, std::function<Task<>()> handler);

    void start(const std::string& name) { setEnabled(name, true); }
    void stop(const std::string& name) { setEnabled(name, false); }
    void setEnabled(const std::string& name, bool enabled);
    bool isEnabled(const std::string& name) const;
    /// True while the named timer's latest run still waits.
    bool isWaiting(const std::string& name) const;

    /// Runs one tick of the named timer's handler.
    void fire(const std::string& name);
    /// Runs one tick of the handler at `index` in timers().
    void fire(std::size_t index);

    /// Drops every run still waiting (the station is ending).
    void abandonRuns();

    const std::vector<Timer>& timers() const { return m_timers; }

    /// Called with the timer's name and the exception's text when one escapes
    /// a handler; the exception goes no further (see exception_barrier.h).
    void setOnFailure(std::function<void(const std::string&, const std::string&)> report) {
        m_onFailure = std::move(report);
    }

    /// Called after a timer's enabled state changed (the Qt host starts or
    /// stops its QTimer there).
    void setOnEnabledChanged(std::function<void(const Timer&)> observer) {
        m_onEnabledChanged = std::move(observer);
    }

private:
    void add(Timer timer);
    void fire(Timer& timer);
    Timer* find(const std::string& name);
    const Timer* find(const std::string& name) const;

    std::vector<Timer> m_timers;
    std::function<void(const Timer&)> m_onEnabledChanged;
    std::function<void(const std::string&, const std::string&)> m_onFailure;
};

}  // namespace kestrel
