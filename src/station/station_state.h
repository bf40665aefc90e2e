#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "station/station_counters.h"

namespace kestrel {

/// The event text that names no day and no source.
inline constexpr const char* kNoEvent = "X XXXXXX X";

/// The variables every handler shares, named as the station names them.
/// Integers are 16-bit where the station keeps them in 16 bits.
struct StationState {
    std::int16_t CurrentMplayer = 0;  ///< player slot last started: 0 none, 1 or 2
    std::int16_t CurrentSource = -1;  ///< source that should be playing; -1 none
    std::int16_t WasPlaying = -1;     ///< source to start again on the next executor tick
    /// Source wanted but not on air yet: its switch is starting it, or its
    /// last try failed and it is tried again every 15 s; -1 none.
    std::int16_t PendingSource = -1;
    std::string PendingKey;                            ///< the source key those tries look up
    SwitchCause PendingCause = SwitchCause::Schedule;  ///< why it was wanted
    /// The pending source's player ended before playback while nothing else
    /// played: it is tried every few seconds, not every 15 s.
    bool PendingDead = false;
    double PendingTriedAt = 0;  ///< steady seconds of its last failed try
    std::string PlayURL;        ///< stream address last handed to a player
    /// The source last restarted after an outage or a stall, and when (steady
    /// seconds): it is not restarted again within 15 s.
    std::int16_t LastRestartSource = -1;
    double LastRestartAt = 0;
    /// When each source's latest "error.log" line was written (steady seconds).
    std::map<std::int16_t, double> LastErrorLineAt;
    std::string NextEvent = kNoEvent;
    std::string LastEvent = kNoEvent;
    /// Found while NextEvent's minute holds it frozen: the event that follows,
    /// so that one due early in the next minute still fires on time. Kept
    /// until its own minute is over; else empty.
    std::string FollowingEvent;
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
