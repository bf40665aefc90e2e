#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrel {

/// The station's timers: name, interval, handler and whether it runs. The host
/// (Qt or simulated) runs the enabled ones; the core switches them on and off
/// through this table. Ticks that fall due while a handler blocks are not made up.
class TimerTable {
public:
    struct Timer {
        std::string name;
        int intervalMs = 0;
        std::function<void()> handler;
        bool enabled = false;
    };

    /// Adds a stopped timer; names are unique.
    void add(std::string name, int intervalMs, std::function<void()> handler);

    void start(const std::string& name) { setEnabled(name, true); }
    void stop(const std::string& name) { setEnabled(name, false); }
    void setEnabled(const std::string& name, bool enabled);
    bool isEnabled(const std::string& name) const;

    /// Runs one tick of the named timer's handler.
    void fire(const std::string& name);
    /// Runs one tick of the handler at `index` in timers().
    void fire(std::size_t index);

    const std::vector<Timer>& timers() const { return m_timers; }

    /// Called after a timer's enabled state changed (the Qt host starts or
    /// stops its QTimer there).
    void setOnEnabledChanged(std::function<void(const Timer&)> observer) {
        m_onEnabledChanged = std::move(observer);
    }

private:
    Timer* find(const std::string& name);
    const Timer* find(const std::string& name) const;

    std::vector<Timer> m_timers;
    std::function<void(const Timer&)> m_onEnabledChanged;
};

}  // namespace kestrel
