#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "station/display_model.h"
#include "station/host_hooks.h"
#include "station/station_state.h"
#include "station/timer_table.h"
#include "platform/platform.h"

namespace kestrel {

/// The one station: shared state, the window's display model, the timer table
/// and the platform it runs on. Every handler takes a Station&.
struct Station {
    explicit Station(Platform platformIn) : platform(platformIn) {}

    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    /// Full path of a file of the station directory.
    std::filesystem::path file(std::string_view name) const { return platform.workdir / name; }

    /// Blocking wait of at least `interval` seconds on the steady clock;
    /// no event is processed meanwhile.
    void Pause(double interval);

    /// Issues one of the station's command lines; the outcome is never examined.
    void run(const std::string& commandLine, WindowStyle style = WindowStyle::MinimisedWithFocus);

    /// Local date and time now.
    LocalDateTime now() const { return platform.clock.now(); }

    Platform platform;
    StationState state;
    DisplayModel display;
    TimerTable timers;
    HostHooks* host = &m_noHost;

private:
    HostHooks m_noHost;
};

}  // namespace kestrel
