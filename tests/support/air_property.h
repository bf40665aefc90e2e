#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

/// One thing that happens to a station on air, at a moment of virtual time.
struct AirAction {
    enum Kind {
        PlayerDies,        ///< the player of slot `a` ends
        StreamStalls,      ///< the stream of slot `a`'s player stops sending for good
        SourceBehaves,     ///< source `a` plays as behaviour `b` (see kBehaviours)
        ServerDown,        ///< source `a`'s server dies (`b` 0) or returns (`b` 1)
        SourceSounds,      ///< source `a` decodes silence (`b` 0) or sound (`b` 1)
        OperatorOrders,    ///< "Force Switch Now" for source `a`
        ApiOrders,         ///< an API client asks for source `a`
        ManagementOrders,  ///< the management server orders source `a`
        ModeToggles,       ///< AUTOMATIC to MANUAL or back
        ScheduleEvents,  ///< two events, `a` and `a` + 1 seconds from now, to sources `a` % 10 and
                         ///< `b`
        DiskFills,       ///< the disk is full (`a` 1) or has room (`a` 0)
        OutputFails,     ///< the sound device is missing (`a` 1) or back (`a` 0)
    };
    std::int64_t atMs = 0;  ///< from the start of the run
    Kind kind = PlayerDies;
    int a = 0;
    int b = 0;

    std::string text() const;
};

/// How a source's player behaves, by number: plays at once, plays after 4 s,
/// ends at once (a dead mount), runs and never plays, plays after 12 s (past
/// the time-out), plays and ends after 3 s, plays at once but its socket
/// connects only after 2 s and its stream underruns 20 s in (its cache runs
/// dry while a trickle still comes in, and refills 6 s later).
inline constexpr int kBehaviours = 7;

/// A run of the station on virtual time through `actions`, with every
/// invariant checked along the way:
///  (a) no playing player is stopped unless the other slot's player plays
///      (one that began playback within 0.2 s cannot be told apart yet);
///  (b) once what `wantedSource` says has held for SwitchTimeout + 2 s, that
///      source plays, whenever it can play;
///  (c) in AUTOMATIC mode, with source 0 able to play, never more than 4 s
///      without a player process, unless a switch runs (19 s while source 0
///      itself waits out its restart spacing);
///  (d) every event that falls due becomes the schedule's wish within 1.5 s
///      (or a later one does), and every order is answered within
///      SwitchTimeout + 3 s;
///  (e) while the sound device is missing (and the disk has room for the
///      players' logs) no switch fails, no source is declared silent and
///      none stands in for a dead one, from 2 s after it went (the station
///      learns of it from a player's log): the device is to blame.
///  (f) every volume a player is sent lies between muted and +12 dB, and
///      moves less than 1 dB from the last one (but from muted);
///  (g) a player is turned down only while the other slot's player plays: a
///      failed switch never faded anything;
///  (h) a stream is found stalled only when it sent nothing for 2 s: an
///      intake that lost sight of its socket, or an underrun that the cache
///      rides out, is no stall.
/// (b) and (c) wait while the device is missing or not yet tried again.
/// The first violation ends the run.
struct AirRun {
    std::vector<AirAction> actions;
    double seconds = 3600;  ///< how long to run
    int switchTimeout = 10;
};

struct AirOutcome {
    std::string violation;  ///< empty: every invariant held
    char invariant = ' ';   ///< 'a' .. 'd' of the violation
    std::int64_t atMs = 0;  ///< when it was seen
    int switches = 0;       ///< switches that put a source on air
    int orders = 0;
    int events = 0;
    // How the run ended, for scenarios that look at it.
    int onAir = -1;                ///< CurrentSource
    bool onAirPlayerRuns = false;  ///< a player of the on-air slot runs with its source
    std::uint64_t switchFailures = 0;
    std::uint64_t fallbacks = 0;                       ///< switches for silence or a dead source
    std::vector<std::pair<std::int64_t, int>> starts;  ///< player starts: ms from the start, source
    std::string journalTail;              ///< the station's last journal lines, after a violation
    int outputFailedLines = 0;            ///< "OUTPUT FAILED" lines in error.log
    bool outputFailed = false;            ///< as the station shows it at the end
    std::uintmax_t largestPlayerLog = 0;  ///< bytes, the most a player's log held
    std::uint64_t stalls = 0;             ///< streams on air found stalled
    std::string streamReceived;           ///< the on-air stream's rate, as the window shows it
};

/// Runs `run` on a fresh station.
AirOutcome runAir(const AirRun& run);

/// A run of `days` with random actions drawn from `seed`.
AirRun randomAirRun(std::uint64_t seed, double days);

/// The fewest actions of `failing` (which violates an invariant) that still
/// violate the same one, found by removing actions while it does, within
/// `budgetSeconds` of wall time.
AirRun shrinkAirRun(const AirRun& failing, const AirOutcome& outcome, double budgetSeconds);

}  // namespace kestrel::test
