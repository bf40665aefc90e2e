#pragma once

#include "playback/wanted_source.h"
#include "station/station.h"

namespace kestrel {

/// The facts of the station as `wantedSource` reads them.
AirFacts airFacts(const Station& station);

/// The one task that owns both player slots. Whenever a fact changes (the
/// station's factsChanged), on the players' look every second, and when its
/// own switch ends, it asks `wantedSource` afresh and switches toward the
/// answer make-before-break, starts the source on air again, tries a source
/// held off for silence, or leaves the air alone. A switch whose source is
/// no longer wanted before its new player plays is dropped: the player is
/// stopped and the air stays as it is. It settles every order: on air, or
/// not. Nothing else starts or stops a player while the station runs.
class Reconciler {
public:
    /// Looks again whenever `station` says its facts changed.
    explicit Reconciler(Station& station);
    ~Reconciler();
    Reconciler(const Reconciler&) = delete;
    Reconciler& operator=(const Reconciler&) = delete;

    /// Asks for a look from the event loop (at once with a loop that runs
    /// calls at once); a look while a switch runs is taken by that switch,
    /// which looks again after every 0.1 s.
    void look();

private:
    Task<> run();
    /// What should be on air now, with the shown pending source and the
    /// orders no switch will carry out settled.
    AirDecision decide();
    bool needsSwitch(const AirDecision& decision) const;

    Station& m_station;
    Task<> m_run;
    bool m_running = false;
    bool m_lookAgain = false;
    bool m_callPending = false;
    EventLoop::CallId m_call = 0;
};

}  // namespace kestrel
