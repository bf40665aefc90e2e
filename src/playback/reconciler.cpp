#include "playback/reconciler.h"

#include <algorithm>

#include "playback/output_watch.h"
#include "playback/switch_procedure.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// A run ends after this many switches in a row and the next look starts a
// new one: a decision that never settles must not hold the loop.
constexpr int kMostSwitchesPerRun = 8;

bool carriesOutAnOrder(SwitchCause cause) {
    return cause == SwitchCause::Operator || cause == SwitchCause::Api || cause == SwitchCause::Web;
}

}  // namespace

AirFacts airFacts(const Station& station) {
    const StationState& state = station.state;
    AirFacts facts;
    facts.schedule = state.ScheduledWish;
    facts.order = state.LatestOrder;
    facts.automatic = station.automatic();
    facts.onAir = state.CurrentSource;
    facts.failedServer = state.SilenceFlag == 1 ? state.LinkSource : -1;
    facts.recovering = state.RecoveryPending ? state.LinkSource : -1;
    facts.heldForSilence = station.silence.heldSource;
    facts.nextTrialAt = station.silence.nextTrialAt;
    facts.restart = state.WasPlaying;
    facts.restartCause = state.RestartCause;
    if (state.LastRestartSource == state.WasPlaying) facts.restartDueAt = state.LastRestartAt;
    facts.failedTries = state.FailedTries;
    facts.orderServed = state.OrderServed;
    facts.outputTryDueAt = outputTryDueAt(station.output);
    // Source 0 stands in only while nothing is on air.
    if (state.CurrentSource == -1)
        tolerate([&] { facts.backupHasAddress = keyHasAddress(station, "0"); });
    return facts;
}

Reconciler::Reconciler(Station& station) : m_station(station) {
    m_station.setOnFactsChanged([this] { look(); });
}

Reconciler::~Reconciler() {
    m_station.setOnFactsChanged(nullptr);
    m_station.platform.loop.cancelCall(m_call);
    m_run = {};
}

void Reconciler::look() {
    if (m_running) {
        m_lookAgain = true;
        return;
    }
    if (m_callPending) return;
    m_callPending = true;
    // A loop that runs calls at once has run this one before it returns.
    const auto call = m_station.platform.loop.callAfter(0, [this] {
        m_callPending = false;
        m_call = 0;
        if (!m_running) m_run = run();
    });
    if (m_callPending) m_call = call;
}

AirDecision Reconciler::decide() {
    StationState& state = m_station.state;
    AirDecision decision =
        wantedSource(airFacts(m_station), m_station.platform.clock.steadySeconds());
    state.PendingSource = decision.waitingFor;
    // An order no switch will carry out (a fall-back holds the air) has its answer now.
    const std::uint64_t latest = state.LatestOrder.order;
    if (latest > state.OrderServed && decision.order != latest) {
        state.OrderServed = latest;
        m_station.orders.settle(latest, false);
    }
    return decision;
}

bool Reconciler::needsSwitch(const AirDecision& decision) const {
    if (decision.source == -1) return false;
    return decision.source != m_station.state.CurrentSource || decision.startAgain ||
           decision.trial;
}

Task<> Reconciler::run() {
    m_running = true;
    StationState& state = m_station.state;
    for (int switches = 0; switches < kMostSwitchesPerRun; ++switches) {
        m_lookAgain = false;
        const AirDecision decision = decide();
        if (!needsSwitch(decision)) {
            if (decision.order > state.OrderServed && decision.source == state.CurrentSource) {
                state.OrderServed = decision.order;
                m_station.orders.settle(decision.order, true);
            }
            break;
        }
        const bool byOrder = carriesOutAnOrder(decision.cause);
        m_station.switching = true;
        if (byOrder) m_station.display.cmdForceSwitch.enabled = false;
        // Wanted while the facts still ask for the same source the same way.
        // Time alone never drops a switch (a retry falling due beside a
        // stand-in that is starting): the facts are read as at its start.
        const double startedAt = m_station.platform.clock.steadySeconds();
        const auto stillWanted = [this, decision, startedAt] {
            if (!m_lookAgain) return true;
            m_lookAgain = false;
            const AirDecision now = wantedSource(airFacts(m_station), startedAt);
            return now.source == decision.source && now.trial == decision.trial;
        };
        SwitchEnd end = SwitchEnd::Failed;
        try {
            end = co_await switchToward(m_station, decision, stillWanted);
        } catch (...) {
        }
        m_station.switching = false;
        if (byOrder) m_station.display.cmdForceSwitch.enabled = true;
        if (decision.trial) {
            // The next trial a minute after the last one fell due.
            SilenceState& silence = m_station.silence;
            const double now = m_station.platform.clock.steadySeconds();
            while (silence.nextTrialAt <= now)
                silence.nextTrialAt += kSilenceTrialEverySeconds;
        }
        if (decision.order != 0 && end != SwitchEnd::Unwanted) {
            state.OrderServed = std::max(state.OrderServed, decision.order);
            m_station.orders.settle(decision.order, end == SwitchEnd::OnAir);
        }
        // An order for the source this switch just started afresh, given while
        // it ran, is carried out by it: starting it once more would only
        // delay the answer by another switch.
        const Wish& latest = state.LatestOrder;
        if (end == SwitchEnd::OnAir && latest.order > state.OrderServed &&
            latest.source == decision.source) {
            state.OrderServed = latest.order;
            m_station.orders.settle(latest.order, true);
        }
    }
    state.PendingSource = decide().waitingFor;
    m_running = false;
}

}  // namespace kestrel
