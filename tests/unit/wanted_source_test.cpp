#include "playback/wanted_source.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

using C = SwitchCause;

// Source 3 is the schedule's since 100 s and on air, in AUTOMATIC mode;
// each case changes some facts and asks at 100 s.
AirFacts scheduledThree() {
    AirFacts facts;
    facts.schedule = Wish{3, "3", C::Schedule, 100, 0};
    facts.onAir = 3;
    return facts;
}

struct Expected {
    std::int16_t source;
    C cause = C::Schedule;
    bool startAgain = false;
    bool trial = false;
    std::int16_t waitingFor = -1;
};

TEST(WantedSource, OneTableDecidesWhatShouldBeOnAir) {
    const Wish api5{5, "5", C::Api, 200, 1};
    const struct {
        const char* what;
        std::function<void(AirFacts&)> facts;
        Expected expected;
    } cases[] = {
        // clang-format off
        {"the schedule's source, on air", [](AirFacts&) {}, {3}},
        {"nothing asked for yet", [](AirFacts& f) { f.schedule = {}; f.onAir = -1; }, {-1}},
        {"a newer order", [&](AirFacts& f) { f.order = api5; }, {5, C::Api, false, false, 5}},
        {"an order before the event", [&](AirFacts& f) { f.order = api5; f.order.at = 99; }, {3}},
        {"an order at the event's second", [&](AirFacts& f) { f.order = api5; f.order.at = 100; },
         {5, C::Api, false, false, 5}},
        {"a failure declared on the wish", [](AirFacts& f) { f.failedServer = 3; },
         {0, C::Failover, false, false, 0}},
        {"a failure declared on another source", [](AirFacts& f) { f.failedServer = 4; }, {3}},
        {"MANUAL: no fall-back", [](AirFacts& f) { f.failedServer = 3; f.automatic = false; }, {3}},
        {"held off for silence", [](AirFacts& f) { f.heldForSilence = 3; f.nextTrialAt = 90; },
         {0, C::Silence, false, false, 0}},
        {"held off, its trial due while 0 plays",
         [](AirFacts& f) { f.heldForSilence = 3; f.nextTrialAt = 90; f.onAir = 0; },
         {3, C::SilenceEnded, false, true}},
        {"held off, its trial not due",
         [](AirFacts& f) { f.heldForSilence = 3; f.nextTrialAt = 160; f.onAir = 0; }, {0, C::Silence}},
        {"held off, no trial while a failure is declared",
         [](AirFacts& f) { f.heldForSilence = 3; f.onAir = 0; f.failedServer = 0; }, {0, C::Silence}},
        {"held off for silence, source 0 failed lately: the silent source stays",
         [](AirFacts& f) { f.heldForSilence = 3; f.failedTries[0] = 95; },
         {3, C::Schedule, false, false, 0}},
        {"failed lately beside another source: it stays",
         [](AirFacts& f) { f.onAir = 4; f.failedTries[3] = 86; }, {4, C::Schedule, false, false, 3}},
        {"failed 15 s ago beside another source: tried again",
         [](AirFacts& f) { f.onAir = 4; f.failedTries[3] = 85; }, {3, C::Schedule, false, false, 3}},
        {"failed lately, nothing on air: source 0 stands in",
         [](AirFacts& f) { f.onAir = -1; f.failedTries[3] = 98.5; },
         {0, C::SourceDead, false, false, 3}},
        {"failed 2 s ago, nothing on air: tried again",
         [](AirFacts& f) { f.onAir = -1; f.failedTries[3] = 98; }, {3, C::Schedule, false, false, 3}},
        {"failed lately, source 0 standing in: 5 s",
         [](AirFacts& f) { f.onAir = 0; f.failedTries[3] = 95.5; }, {0, C::Schedule, false, false, 3}},
        {"failed lately, nothing on air, source 0 has no address",
         [](AirFacts& f) { f.onAir = -1; f.failedTries[3] = 99; f.backupHasAddress = false; },
         {-1, C::Schedule, false, false, 3}},
        {"failed lately, nothing on air, in MANUAL mode",
         [](AirFacts& f) { f.onAir = -1; f.failedTries[3] = 99; f.automatic = false; },
         {-1, C::Schedule, false, false, 3}},
        {"failed lately, the player of the source kept died: it again",
         [](AirFacts& f) { f.onAir = -1; f.restart = 4; f.failedTries[3] = 95; },
         {4, C::Watchdog, false, false, 3}},
        {"its player died", [](AirFacts& f) { f.onAir = -1; f.restart = 3; },
         {3, C::Watchdog, false, false, 3}},
        {"its stream stalled",
         [](AirFacts& f) { f.restart = 3; f.restartCause = C::Stall; }, {3, C::Stall, true}},
        {"back from a declared failure", [](AirFacts& f) { f.recovering = 3; f.onAir = 0; },
         {3, C::Recovery, false, false, 3}},
        {"an operator's order for the source on air, not yet carried out",
         [](AirFacts& f) { f.order = {3, "3", C::Operator, 200, 2}; f.orderServed = 1; },
         {3, C::Operator, true}},
        {"the same order carried out",
         [](AirFacts& f) { f.order = {3, "3", C::Operator, 200, 2}; f.orderServed = 2; },
         {3, C::Operator}},
        {"the management server's order for the source on air",
         [](AirFacts& f) { f.order = {3, "3", C::Management, 200, 2}; }, {3, C::Management}},
        // clang-format on
    };
    for (const auto& c : cases) {
        AirFacts facts = scheduledThree();
        c.facts(facts);
        const AirDecision decision = wantedSource(facts, 100);
        EXPECT_EQ(decision.source, c.expected.source) << c.what << " (" << decision.rule << ")";
        if (decision.source == -1) continue;
        EXPECT_EQ(decision.cause, c.expected.cause) << c.what;
        EXPECT_EQ(decision.startAgain, c.expected.startAgain) << c.what;
        EXPECT_EQ(decision.trial, c.expected.trial) << c.what;
        EXPECT_EQ(decision.waitingFor, c.expected.waitingFor) << c.what;
    }
}

}  // namespace
}  // namespace kestrel
