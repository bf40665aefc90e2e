#include "playback/wanted_source.h"

namespace kestrel {
namespace {

// The newer of the latest order and the schedule's event; an order wins a
// tie, since it was given knowing what the schedule had done.
const Wish& wishOf(const AirFacts& facts) {
    if (facts.order.source == -1) return facts.schedule;
    if (facts.schedule.source == -1 || facts.order.at >= facts.schedule.at) return facts.order;
    return facts.schedule;
}

// Whether `source` failed lately and its next try is not due.
bool triedLately(const AirFacts& facts, std::int16_t source, double now, double spacing) {
    const auto tried = facts.failedTries.find(source);
    return tried != facts.failedTries.end() && now < tried->second + spacing;
}

// The source being kept: the one on air, else the one whose player died.
std::int16_t keptSource(const AirFacts& facts) {
    return facts.onAir != -1 ? facts.onAir : facts.restart;
}

// How long `source` waits after a failed try: beside the source kept, or,
// for the source kept itself, beside what is on air.
double spacingOf(const AirFacts& facts, std::int16_t source) {
    return retrySpacing(source == facts.restart ? facts.onAir : keptSource(facts));
}

// Whether `source` waits for its next try: its last one failed lately, or it
// is to start again after its player died, sooner than 15 s after its last
// restart.
bool waitsForItsTry(const AirFacts& facts, std::int16_t source, double now, double spacing) {
    return triedLately(facts, source, now, spacing) ||
           (source == facts.restart && now < facts.restartDueAt);
}

AirDecision onAirShouldBe(const AirFacts& facts, std::int16_t source, std::string key,
                          SwitchCause cause, const char* rule) {
    AirDecision decision;
    decision.source = source;
    decision.key = std::move(key);
    decision.cause = cause;
    decision.rule = rule;
    // A player that died or stalled: the same stream again, in the other slot
    // (no key: the address on air, whichever key put it there).
    if (facts.restart == source) {
        decision.key.clear();
        decision.cause = facts.restartCause;
        decision.startAgain = facts.onAir == source;
    }
    decision.waitingFor = source != facts.onAir ? source : -1;
    return decision;
}

AirDecision backup(const AirFacts& facts, SwitchCause cause, const char* rule) {
    return onAirShouldBe(facts, 0, "0", cause, rule);
}

AirDecision nothing(const char* rule, std::int16_t waitingFor = -1) {
    AirDecision decision;
    decision.rule = rule;
    decision.waitingFor = waitingFor;
    return decision;
}

// The chosen source cannot play now: what stands in until its next try.
AirDecision standIn(const AirFacts& facts, std::int16_t chosen, double now) {
    AirDecision decision;
    const std::int16_t restart = facts.restart;
    if (restart != -1 && restart != chosen && (facts.onAir == -1 || facts.onAir == restart) &&
        !waitsForItsTry(facts, restart, now, retrySpacing(-1))) {
        decision = onAirShouldBe(facts, restart, std::string(1, std::to_string(restart).back()),
                                 facts.restartCause,
                                 "it cannot play: the source kept, its player died or stalled");
    } else if (facts.onAir != -1) {
        decision = nothing("it cannot play: the source on air stays");
        decision.source = facts.onAir;
    } else if (facts.automatic && chosen != 0 && facts.backupHasAddress &&
               !triedLately(facts, 0, now, retrySpacing(-1))) {
        decision = backup(facts, SwitchCause::SourceDead, "it cannot play: source 0 stands in");
    } else {
        decision = nothing("it cannot play: nothing until its next try");
    }
    decision.waitingFor = chosen;
    return decision;
}

AirDecision theWish(const AirFacts& facts, const Wish& wish) {
    SwitchCause cause = wish.cause;
    if (facts.recovering == wish.source) cause = SwitchCause::Recovery;
    AirDecision decision = onAirShouldBe(facts, wish.source, wish.key, cause, "the wish");
    decision.order = wish.order;
    // "Force Switch Now" for the source on air starts it again.
    const bool unserved = wish.order > facts.orderServed &&
                          (wish.cause == SwitchCause::Operator || wish.cause == SwitchCause::Api ||
                           wish.cause == SwitchCause::Web);
    if (unserved && facts.onAir == wish.source) {
        decision.cause = wish.cause;
        decision.startAgain = true;
    }
    return decision;
}

using Holds = bool (*)(const AirFacts&, const Wish&, double now);
using Decides = AirDecision (*)(const AirFacts&, const Wish&, double now);

struct Row {
    Holds holds;
    Decides decides;
};

// The precedence table of wantedSource: the first row that holds decides.
const Row kPrecedence[] = {
    // 1. Nothing asked for yet.
    {[](const AirFacts&, const Wish& wish, double) { return wish.source == -1; },
     [](const AirFacts&, const Wish&, double) { return nothing("nothing asked for yet"); }},
    // 2. A source failure is declared on the wish.
    {[](const AirFacts& f, const Wish& wish, double) {
         return f.automatic && wish.source != 0 && f.failedServer == wish.source;
     },
     [](const AirFacts& f, const Wish&, double) {
         return backup(f, SwitchCause::Failover, "a source failure is declared on the wish");
     }},
    // 3. Held off for silence, its trial due while source 0 plays.
    {[](const AirFacts& f, const Wish& wish, double now) {
         return f.automatic && wish.source != 0 && f.heldForSilence == wish.source &&
                f.failedServer == -1 && f.onAir == 0 && now >= f.nextTrialAt;
     },
     [](const AirFacts&, const Wish& wish, double) {
         AirDecision decision;
         decision.source = wish.source;
         decision.key = wish.key;
         decision.cause = SwitchCause::SilenceEnded;
         decision.trial = true;
         decision.rule = "the wish is held off for silence: its trial";
         return decision;
     }},
    // 4. Held off for silence.
    {[](const AirFacts& f, const Wish& wish, double) {
         return f.automatic && wish.source != 0 && f.heldForSilence == wish.source;
     },
     [](const AirFacts& f, const Wish&, double) {
         return backup(f, SwitchCause::Silence, "the wish is held off for silence");
     }},
    // 5. The wish itself.
    {[](const AirFacts&, const Wish&, double) { return true; },
     [](const AirFacts& f, const Wish& wish, double) { return theWish(f, wish); }},
};

}  // namespace

double retrySpacing(std::int16_t onAir) {
    if (onAir == -1) return 2;
    return onAir == 0 ? 5 : 15;
}

AirDecision wantedSource(const AirFacts& facts, double now) {
    const Wish& wish = wishOf(facts);
    AirDecision decision = nothing("");
    for (const Row& row : kPrecedence) {
        if (row.holds(facts, wish, now)) {
            decision = row.decides(facts, wish, now);
            break;
        }
    }
    const bool replaces = decision.source != facts.onAir || decision.startAgain;
    // A player would find no sound device: nothing starts until its next try.
    if (decision.source != -1 && (replaces || decision.trial) && now < facts.outputTryDueAt) {
        AirDecision hold = nothing("the sound device fails: nothing starts until its next try",
                                   decision.source != facts.onAir ? decision.source : -1);
        hold.source = facts.onAir;
        return hold;
    }
    // 6. Whatever was chosen, a source whose last try failed waits for its next.
    if (decision.source != -1 && !decision.trial && replaces &&
        waitsForItsTry(facts, decision.source, now, spacingOf(facts, decision.source))) {
        return standIn(facts, decision.source, now);
    }
    return decision;
}

}  // namespace kestrel
