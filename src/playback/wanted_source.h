#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "station/station_state.h"

namespace kestrel {

/// Everything that decides what should be on air, as handlers recorded it.
struct AirFacts {
    Wish schedule;                   ///< the schedule's current event (source -1: none yet)
    Wish order;                      ///< the latest order (source -1: none)
    bool automatic = true;           ///< MANUAL stops the schedule, the fall-backs and the stand-in
    std::int16_t onAir = -1;         ///< CurrentSource
    std::int16_t failedServer = -1;  ///< the source of a declared failure (SilenceFlag)
    std::int16_t recovering = -1;    ///< the failed source whose server answers again
    std::int16_t heldForSilence = -1;  ///< the silent source replaced by source 0
    double nextTrialAt = 0;            ///< steady seconds of its next trial
    std::int16_t restart = -1;         ///< WasPlaying: its player died or stalled
    SwitchCause restartCause = SwitchCause::Watchdog;
    double restartDueAt = 0;  ///< steady seconds: `restart` waits until 15 s after its last restart
    std::map<std::int16_t, double> failedTries;  ///< source: steady seconds of its failed try
    std::uint64_t orderServed = 0;
    bool backupHasAddress = true;  ///< source 0 has an address to stand in with
    /// While the sound device fails: steady seconds of the next player's
    /// start; 0 while it answers.
    double outputTryDueAt = 0;
};

/// What should be on air, and why.
struct AirDecision {
    std::int16_t source = -1;  ///< -1: nothing to put on air now
    std::string key;           ///< the source key its switch looks up
    SwitchCause cause = SwitchCause::Schedule;
    std::uint64_t order = 0;       ///< the order it carries out; 0 none
    bool startAgain = false;       ///< started again in the other slot although it is on air
    bool trial = false;            ///< a source held off for silence: takes the air only with sound
    std::int16_t waitingFor = -1;  ///< the wanted source while it is not on air (PendingSource)
    const char* rule = "";         ///< the row of the precedence table that decided
};

/// How long a source whose switch failed waits for its next try: 2 s while
/// nothing is on air, 5 s while source 0 stands in, 15 s beside another source.
double retrySpacing(std::int16_t onAir);

/// The station's policy in one place: what should be on air at `now`
/// (steady seconds) given `facts`. Pure: the same facts give the same answer.
///
/// | # | when                                                    | on air              | cause |
/// |---|---------------------------------------------------------|---------------------|---------------|
/// |   | the wish: the newer of the latest order and the schedule's event (an order wins a tie) |
/// | 1 | nothing asked for yet (MANUAL since start-up)           | nothing             | - | | 2 |
/// a source failure is declared on the wish (AUTOMATIC)    | source 0            | failover      |
/// | 3 | the wish is held off for silence, its trial due, 0 on air | the wish, with sound |
/// silence_ended | | 4 | the wish is held off for silence (AUTOMATIC)            | source 0 |
/// silence       | | 5 | otherwise                                               | the wish | the
/// wish's; recovery back from a declared failure; watchdog or stall when its player died or stalled
/// | | 6 | the source chosen above failed its last try, the next not due, |             | | |   |
/// or restarts sooner than 15 s after its last restart:  |                     |               | |
/// |   the player of the source kept died or stalled         | that source again   | watchdog,
/// stall | |   |   a source is on air                                    | it stays            | -
/// | |   |   nothing on air, source 0 can stand in (AUTOMATIC)     | source 0            |
/// source_dead   | |   |   nothing on air                                        | nothing until
/// due   | -             |
///
/// An order of the operator or an API client that no switch has served yet
/// starts its source again even when it is on air. While the sound device
/// fails, no player starts before its next try is due (every 5 s): the air
/// stays as it is, and no source is held to blame.
AirDecision wantedSource(const AirFacts& facts, double now);

}  // namespace kestrel
