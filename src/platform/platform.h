#pragma once

#include <filesystem>

#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/event_loop.h"
#include "platform/level_tap.h"
#include "platform/loudness_meter.h"
#include "platform/player_control.h"
#include "platform/process_table.h"
#include "platform/url_fetcher.h"

namespace kestrel {

/// Everything the station core uses of the outside world. Not owned.
/// Each fetching handler has its own fetcher, so that one slow server never
/// holds up or cancels another handler's request. The station's own
/// documents call them InetAIR, InetWeather, InetTestURL, Inet1, InetChanges
/// and InetStatus, in the order below.
struct Platform {
    Clock& clock;
    CommandRunner& runner;
    ProcessTable& processes;
    EventLoop& loop;
    UrlFetcher& airFetcher;           ///< TuneIn AIR reports
    UrlFetcher& weatherFetcher;       ///< the weather service
    UrlFetcher& sourceCheckFetcher;   ///< the failure detector's server check
    UrlFetcher& managementFetcher;    ///< the management schedule download
    UrlFetcher& changePollFetcher;    ///< the management change poll
    UrlFetcher& statusReportFetcher;  ///< the source status report
    /// The station directory; every file name the station uses is relative to it.
    std::filesystem::path workdir;
    /// What the players decode; by default nothing.
    LevelTap& levels = noLevelTap();
    /// Commands to the players (their volume); by default none reach them.
    PlayerControl& control = noPlayerControl();
    /// Loudness of what the players decode; by default none is measured.
    LoudnessMeter& loudness = noLoudnessMeter();
};

}  // namespace kestrel
