#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "station/station_counters.h"

namespace kestrel {

/// The event text that names no day and no source.
inline constexpr const char* kNoEvent = "X XXXXXX X";

/// What someone asked to have on air: a schedule event or an order.
struct Wish {
    std::int16_t source = -1;  ///< -1: nothing asked for yet
    std::string key;           ///< the source key its switch looks up
    SwitchCause cause = SwitchCause::Schedule;
    std::int64_t at = 0;      ///< local seconds it came due or was asked for
    std::uint64_t order = 0;  ///< an order's number; 0 for the schedule's
};

/// The variables every handler shares, named as the station names them.
/// Integers are 16-bit where the station keeps them in 16 bits.
struct StationState {
    std::int16_t CurrentMplayer = 0;  ///< player slot last started: 0 none, 1 or 2
    std::int16_t CurrentSource = -1;  ///< source that should be playing; -1 none
    /// The source on air whose player died (its player ended, CurrentSource
    /// became -1) or whose stream stalled: started again in the other slot,
    /// for RestartCause (watchdog or stall); -1 none.
    std::int16_t WasPlaying = -1;
    SwitchCause RestartCause = SwitchCause::Watchdog;
    /// What the schedule wants on air: its latest event that came due (at its
    /// second), or at start-up the source of today's last passed event, else 9.
    Wish ScheduledWish;
    /// The latest order of the operator, an API client or the management server.
    Wish LatestOrder;
    std::uint64_t OrdersGiven = 0;  ///< numbers the orders: 1, 2, ...
    std::uint64_t OrderServed = 0;  ///< the latest order a switch has carried out or tried
    /// The failed source's server answers again: going back to it is a recovery.
    bool RecoveryPending = false;
    /// When each source's latest switch failed (steady seconds); a source is
    /// tried again on the retry rhythm, and dropped from here once it plays.
    std::map<std::int16_t, double> FailedTries;
    /// The wanted source while it is not on air: its switch runs, or its last
    /// try failed and it waits for the next; -1 none. Shown, never decided on.
    std::int16_t PendingSource = -1;
    std::string PlayURL;  ///< stream address last handed to a player
    /// The on-air player showed that it plays ("Starting playback...", or
    /// decoded audio); false when it took the air at a time-out unseen.
    bool OnAirHeard = false;
    /// The source last restarted after an outage or a stall, and when (steady
    /// seconds): it is not restarted again within 15 s.
    std::int16_t LastRestartSource = -1;
    double LastRestartAt = 0;
    /// When each source's latest "error.log" line was written (steady seconds).
    std::map<std::int16_t, double> LastErrorLineAt;
    std::string NextEvent = kNoEvent;
    std::string LastEvent = kNoEvent;
    /// Every event due within the next 12 s, found at each reading of the
    /// schedule: events a second apart, or early in the minute after a frozen
    /// NextEvent, each fire on their second.
    std::vector<std::string> SoonEvents;
    /// Events that came due after this moment (localSeconds) and have not
    /// fired are owed by the executor; 0 until its first tick.
    std::int64_t EventsOwedAfter = 0;
    std::int16_t LinkFailCount = 0;
    std::string LinkStoredSource;
    std::int16_t LinkSource = 0;
    std::int16_t SilenceFlag = 0;
    std::int16_t ManagementCounter = 0;
    std::int16_t TimerCount = 0;
    std::int16_t WeatherCounter = 0;
    std::string AIRLastArtist;
    std::string AIRLastTitle;
    std::int16_t MinMax = 0;  ///< 0 normal window, 1 maximised

    // Configuration, read once at start-up.
    std::string DefaultStrapline;
    std::string ExtraMetaNowPlaying;
    std::int16_t ManagementUpdate = 0;
    std::string ManagementSendURL;
    std::string ManagementURL;
    std::string ManagementKey;
    std::string ManagementSwitcher;
    std::int16_t CheckForChanges = 0;
    std::string CheckForChangeURL;
    std::string APIallowed = "0";
    std::string APIkey;
    std::string AIRenable = "0";
    std::string AIRid;
    std::string AIRpartnerid;
    std::string AIRpartnerkey;
    std::string AIRdefaultTitle;
    std::string AIRdefaultArtist;
    std::string DoNotPrefixWhenContains;
    std::string MetaWeather;
    std::string MetaOpenWeatherMapKey;
    std::string MetaLocation;
    std::string CheckSource;           ///< "1": the failure detector tests the on-air server
    std::string APIBind;               ///< address the API listens on; empty: all addresses
    std::string APIPort;               ///< port the API listens on as written; empty: 1011
    std::string StationName;           ///< the station's name in metrics; the directory's name
    std::int16_t SwitchTimeout = 10;   ///< seconds a switch waits at most for its new player
    std::int16_t SilenceLevel = -40;   ///< dBFS below which every channel on air is silent
    std::int16_t SilenceSeconds = 15;  ///< that long declares a silence; 0: never
    /// LUFS every source is brought to by its gain; 0: no gain, sources as they come.
    std::int16_t TargetLoudness = 0;
    /// Tenths of a second over which a switch fades the new source in and the
    /// old one out; 0: both play at full level in the overlap.
    std::int16_t CrossfadeTenths = 10;
    std::string AudioDevice;  ///< ALSA device the players play on; empty: MPlayer's choice

    // Of the API server window: the pending switch key and the latest body.
    std::string TransferString;
    std::string response;
};

}  // namespace kestrel
