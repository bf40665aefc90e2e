#include "support/air_property.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>

#include "api/api_request.h"
#include "playback/loudness_gain.h"
#include "playback/orders.h"
#include "playback/player_start.h"
#include "playback/reconciler.h"
#include "station/time_format.h"
#include "support/sim_host.h"

namespace kestrel::test {
namespace {

constexpr int kSources = 10;

std::string urlOf(int source) {
    return "http://s" + std::to_string(source) + ".test:8000/live";
}

// Behaviours by number, as AirAction::SourceBehaves names them; a dead mount
// (2) is an unplayable address.
const FakePlayers::Behaviour kBehaviourOf[kBehaviours] = {
    {0, -1}, {4, -1}, {-1, 0}, {-1, -1}, {12, -1}, {0.5, 3}, {0, -1, 20, 6, true, 2}};
bool playsInTime(int behaviour) {
    return behaviour == 0 || behaviour == 1 || behaviour == 6;
}

class AirSimulation {
public:
    explicit AirSimulation(const AirRun& run) : m_run(run) {}
    AirOutcome run();

private:
    void setUp();
    void apply(const AirAction& action);
    void checkStop(const StationCommand& command);
    void checkVolume(int slot, double from, double to);
    void checkStep();
    void fail(char invariant, const std::string& what);
    bool canPlay(int source) const {
        return !m_outputMissing && source >= 0 && source < kSources && m_serverUp[source] &&
               playsInTime(m_behaviour[source]);
    }
    double now() const { return m_host.clock.steadySeconds(); }
    void setPlayable(int source);
    void writeSchedule(const AirAction& action);

    const AirRun& m_run;
    SimHost m_host;
    AirOutcome m_outcome;
    std::int64_t m_startMs = 0;
    std::array<bool, kSources> m_serverUp{};
    std::array<int, kSources> m_behaviour{};
    bool m_manual = false;
    bool m_outputMissing = false;
    double m_outputMissingSince = 0;
    // (e): counts of blame when the device went missing, once no switch ran
    // and the station has had a look at its players' logs.
    std::optional<std::array<std::uint64_t, 3>> m_blameWhenMissing;
    std::array<std::uint64_t, 3> blame();
    double m_modeChangedAt = 0;
    // (h): stalls found so far, and the slot of the last one, from the journal.
    std::uint64_t m_stallsSeen = 0;
    int stalledSlot() const;

    // (b): the decision and since when it has held.
    std::string m_decided;
    double m_decidedSince = 0;
    // (c): since when no player process has run.
    std::optional<double> m_silentSince;
    // (d): events due, and orders given.
    struct DueEvent {
        std::int64_t moment;  ///< local seconds
        double checkAt;       ///< steady seconds
    };
    std::deque<DueEvent> m_events;
    std::deque<std::string> m_scheduleLines;
    struct Order {
        Task<bool> outcome;
        double askedAt;
    };
    std::vector<Order> m_orders;
};

void AirSimulation::fail(char invariant, const std::string& what) {
    if (!m_outcome.violation.empty()) return;
    const auto t = m_host.clock.now();
    const auto& state = m_host.state();
    const AirDecision decision = wantedSource(airFacts(m_host.station()), now());
    m_outcome.invariant = invariant;
    m_outcome.atMs = m_host.clock.ms() - m_startMs;
    m_outcome.violation = std::string("(") + invariant + ") at " + formatTime(t) + " (+" +
                          std::to_string(m_outcome.atMs) + " ms): " + what + "\n  on air " +
                          std::to_string(state.CurrentSource) + " in slot " +
                          std::to_string(state.CurrentMplayer) + ", wanted " +
                          std::to_string(decision.source) + " (" + decision.rule + ")" +
                          (m_manual ? ", MANUAL" : "");
}

void AirSimulation::setPlayable(int source) {
    auto& players = m_host.players;
    const std::string url = urlOf(source);
    players.behaviourForUrl[url] = kBehaviourOf[m_behaviour[source]];
    if (!m_serverUp[source] || m_behaviour[source] == 2) {
        players.unplayableUrls.insert(url);
    } else {
        players.unplayableUrls.erase(url);
    }
}

void AirSimulation::setUp() {
    m_host.write("kestrelfield.ini",
                 "[Kestrelfield]\r\nCheckSource=1\r\nAPIallowed=1\r\nAPIKey=key\r\n"
                 "SwitchTimeout=" +
                     std::to_string(m_run.switchTimeout) + "\r\n");
    std::string sources;
    for (int n = 0; n < kSources; ++n) {
        sources += std::to_string(n) + "n:Source " + std::to_string(n) + "\r\n" +
                   std::to_string(n) + "u:" + urlOf(n) + "\r\n";
        m_serverUp[n] = true;
        m_host.players.soundOfUrl[urlOf(n)] = -20.0;
        // What MPlayer says of the stream before it plays: the rate is read from it.
        m_host.players.logForUrl[urlOf(n)] =
            "Playing " + urlOf(n) +
            ".\nAUDIO: 44100 Hz, 2 ch, s16le, 128.0 kbit/9.07% (ratio: 16000->176400)\n";
        setPlayable(n);
    }
    m_host.write("sourcelist.ini", sources);
    m_host.write("sourceevents.ini", "");
    m_host.sourceCheckFetcher.respond = [this](const std::string& url) {
        for (int n = 0; n < kSources; ++n) {
            if (url.starts_with("http://s" + std::to_string(n) + ".test"))
                return m_serverUp[n] ? FakeFetcher::ok("up") : FakeFetcher::failed("refused");
        }
        return FakeFetcher::failed("unknown");
    };
    m_host.players.beforeRun = [this](const StationCommand& command) { checkStop(command); };
    m_host.players.onVolume = [this](int slot, double from, double to) {
        checkVolume(slot, from, to);
    };
    m_startMs = m_host.clock.ms();
}

// (a): a playing player is stopped only while the other slot's player plays.
// One that began within the station's last look (0.1 s, and one more for the
// level read) cannot be told from one that has not yet.
void AirSimulation::checkStop(const StationCommand& command) {
    const auto* stop = std::get_if<StopPlayer>(&command);
    // A player without a sound device plays nothing anybody hears.
    if (!stop || m_outputMissing || m_host.players.lostItsDevice(stop->slot) ||
        !m_host.players.hasPlayedFor(stop->slot, 0.2))
        return;
    if (!m_host.players.isPlaying(3 - stop->slot))
        fail('a', "the playing player of slot " + std::to_string(stop->slot) +
                      " stopped while slot " + std::to_string(3 - stop->slot) + "'s did not play");
}

// (f) and (g): volumes within bounds, in small steps, and down only in a fade.
void AirSimulation::checkVolume(int slot, double from, double to) {
    const std::string which = "slot " + std::to_string(slot) + "'s volume ";
    if (!(to >= 0 && to <= playerVolume(kMostGainDb)))
        fail('f', which + "set to " + std::to_string(to));
    if (from > 0 && to > 0 && std::abs(20 * std::log10(to / from)) > 1)
        fail('f', which + "stepped from " + std::to_string(from) + " to " + std::to_string(to));
    if (to < from && !m_host.players.isPlaying(3 - slot))
        fail('g', which + "turned down while the other slot's player did not play");
}

void AirSimulation::writeSchedule(const AirAction& action) {
    const std::int64_t nowMs = m_host.clock.ms();
    for (const auto& [offset, source] :
         {std::pair{action.a, action.a % 10}, std::pair{action.a + 1, action.b}}) {
        const std::int64_t dueMs = (nowMs / 1000 + offset) * 1000;
        FakeClock at;
        at.setMs(dueMs);
        const auto t = at.now();
        m_scheduleLines.push_back(std::to_string(t.weekday) + " " + zeroPadded(t.hour, 2) +
                                  zeroPadded(t.minute, 2) + zeroPadded(t.second, 2) + " " +
                                  std::to_string(source));
        if (m_scheduleLines.size() > 20) m_scheduleLines.pop_front();
        m_events.push_back({localSeconds(t), static_cast<double>(dueMs) / 1000 + 1.5});
    }
    std::string text;
    for (const auto& line : m_scheduleLines)
        text += line + "\r\n";
    m_host.write("sourceevents.ini", text);
}

void AirSimulation::apply(const AirAction& action) {
    auto& players = m_host.players;
    Station& station = m_host.station();
    const int slot = action.a == 2 ? 2 : 1;
    switch (action.kind) {
        case AirAction::PlayerDies:
            players.die(slot);
            break;
        case AirAction::StreamStalls:
            players.stall(slot);
            break;
        case AirAction::SourceBehaves:
            m_behaviour[action.a] = action.b;
            setPlayable(action.a);
            break;
        case AirAction::ServerDown:
            m_serverUp[action.a] = action.b == 1;
            setPlayable(action.a);
            // A player of a dead server ends with it.
            for (const int s : {1, 2}) {
                if (!m_serverUp[action.a] && players.urlOf(s) == urlOf(action.a)) players.die(s);
            }
            break;
        case AirAction::SourceSounds:
            players.soundOfUrl[urlOf(action.a)] = action.b == 1 ? -20.0 : -120.0;
            break;
        case AirAction::OperatorOrders:
            ++m_outcome.orders;
            m_host.display().comboSourceList.text = std::to_string(action.a) + " Select";
            m_orders.push_back({cmdForceSwitch_Click(station), now()});
            break;
        case AirAction::ApiOrders: {
            ++m_outcome.orders;
            auto request =
                handleRequest(station, "GET /api/setcurrent.php?id=key" + std::to_string(action.a) +
                                           " HTTP/1.0\r\n\r\n");
            if (request.switching) m_orders.push_back({std::move(*request.switching), now()});
            break;
        }
        case AirAction::ManagementOrders:
            ++m_outcome.orders;
            m_orders.push_back({remoteSwitch(station, std::to_string(action.a)), now()});
            break;
        case AirAction::ModeToggles:
            m_host.controller->cmdAutoManual();
            m_manual = !m_manual;
            m_modeChangedAt = now();
            break;
        case AirAction::ScheduleEvents:
            writeSchedule(action);
            break;
        case AirAction::DiskFills:
            players.diskFull = action.a == 1;
            break;
        case AirAction::OutputFails:
            m_outputMissing = players.outputMissing = action.a == 1;
            m_outputMissingSince = now();
            m_blameWhenMissing.reset();
            break;
    }
}

int AirSimulation::stalledSlot() const {
    const std::string journal = m_host.journal.str();
    const auto line = journal.rfind("event=stream_stall ");
    const auto slot = journal.find(" slot=", line);
    return line == std::string::npos || slot == std::string::npos ? 0 : journal[slot + 6] - '0';
}

std::array<std::uint64_t, 3> AirSimulation::blame() {
    const Station& station = m_host.station();
    return {station.counters.switchFailures, station.silence.count,
            station.counters.switchesBy(SwitchCause::SourceDead)};
}

// How long the station may take to learn that its sound device is gone: a
// look at the on-air player's log, once a second. A silence or a failure that
// falls due before then is the station's honest verdict.
constexpr double kOutputLearntSeconds = 2;

void AirSimulation::checkStep() {
    Station& station = m_host.station();
    const auto& state = station.state;
    auto& players = m_host.players;
    const double t = now();
    const double settle = m_run.switchTimeout + 2 + 1;

    // (b) what has been wanted long enough plays, when it can.
    const AirDecision decision = wantedSource(airFacts(station), t);
    const std::string decided = std::to_string(decision.source) + decision.rule +
                                causeName(decision.cause).data() +
                                std::to_string(decision.waitingFor) + (decision.trial ? "t" : "") +
                                (decision.startAgain ? "s" : "");
    if (decided != m_decided) {
        m_decided = decided;
        m_decidedSince = t;
    }
    if (t - m_decidedSince >= settle && !decision.trial && !decision.startAgain &&
        canPlay(decision.source)) {
        const int slot = state.CurrentMplayer;
        if (state.CurrentSource != decision.source || !players.isRunning(slot) ||
            players.urlOf(slot) != urlOf(decision.source)) {
            fail('b', "source " + std::to_string(decision.source) + " wanted since +" +
                          std::to_string(m_decidedSince - static_cast<double>(m_startMs) / 1000) +
                          " s does not play");
        }
    }

    // (c) never long without a player while source 0 could play.
    const bool nonePlays = !players.isRunning(1) && !players.isRunning(2);
    if (nonePlays && !station.switching && !m_manual && canPlay(0) && !station.output.failed) {
        if (!m_silentSince) m_silentSince = t;
        // Source 0 itself, dead again soon after its restart, waits out the
        // restart spacing: the station cannot know it would play now.
        const bool zeroWaits = decision.source == -1 && decision.waitingFor == 0;
        const double longest = zeroWaits ? 15 + 4 : 4;
        if (t - *m_silentSince > longest)
            fail('c', "no player for " + std::to_string(static_cast<int>(longest)) +
                          " s, source 0 could play");
    } else {
        m_silentSince.reset();
    }

    // (e) the device alone is blamed for its absence. A switch that began
    // before the device went missing is left to end first; on a full disk
    // no player can say why it ends.
    if (players.diskFull) m_blameWhenMissing.reset();
    if (m_outputMissing && !m_blameWhenMissing && !station.switching && !players.diskFull &&
        t - m_outputMissingSince >= kOutputLearntSeconds)
        m_blameWhenMissing = blame();
    if (m_outputMissing && m_blameWhenMissing && blame() != *m_blameWhenMissing)
        fail('e', "a source was blamed for the missing sound device");
    m_outcome.largestPlayerLog = players.largestLog();

    // (h) a stream found stalled sent nothing for 2 s: an intake that lost
    // sight of its socket, or an underrun the cache rides out, is no stall.
    // Found within the last second, the 2 s include the one before that.
    if (station.counters.stalls != m_stallsSeen) {
        m_stallsSeen = station.counters.stalls;
        const int slot = stalledSlot();
        const auto sent =
            players.sentBetween(slot, m_host.clock.ms() - 2000, m_host.clock.ms() - 1000);
        if (sent && *sent > 0)
            fail('h', "slot " + std::to_string(slot) +
                          "'s stream was found stalled, though it sent for " +
                          std::to_string(*sent) + " ms of the second before");
    }

    // (d) every due event and every order is acted on.
    while (!m_events.empty() && m_events.front().checkAt <= t) {
        const DueEvent event = m_events.front();
        m_events.pop_front();
        // Not owed in MANUAL mode, nor when the mode changed since it was written.
        if (m_manual || event.checkAt - 1.5 - 90 < m_modeChangedAt) continue;
        ++m_outcome.events;
        if (state.ScheduledWish.at < event.moment)
            fail('d', "the event due at " + std::to_string(event.moment % 86400) +
                          " did not become the schedule's wish");
    }
    std::erase_if(m_orders, [&](const Order& order) {
        if (order.outcome.done()) return true;
        if (t - order.askedAt > m_run.switchTimeout + 3) fail('d', "an order is still unanswered");
        return false;
    });
}

AirOutcome AirSimulation::run() {
    setUp();
    m_host.start();
    auto actions = m_run.actions;
    std::stable_sort(actions.begin(), actions.end(),
                     [](const AirAction& x, const AirAction& y) { return x.atMs < y.atMs; });
    std::size_t next = 0;
    const auto endMs = m_startMs + static_cast<std::int64_t>(m_run.seconds * 1000);
    while (m_host.clock.ms() < endMs && m_outcome.violation.empty()) {
        const std::int64_t stepEnd = m_host.clock.ms() + 1000;
        while (next < actions.size() && m_startMs + actions[next].atMs < stepEnd &&
               m_outcome.violation.empty()) {
            const std::int64_t at = m_startMs + actions[next].atMs;
            if (at > m_host.clock.ms())
                m_host.runFor(static_cast<double>(at - m_host.clock.ms()) / 1000);
            apply(actions[next++]);
        }
        if (stepEnd > m_host.clock.ms())
            m_host.runFor(static_cast<double>(stepEnd - m_host.clock.ms()) / 1000);
        checkStep();
    }
    if (!m_outcome.violation.empty()) {
        const std::string journal = m_host.journal.str();
        std::size_t from = journal.size();
        for (int lines = 0; lines <= 30 && from != 0 && from != std::string::npos; ++lines)
            from = journal.rfind('\n', from - 1);
        m_outcome.journalTail = "\n" + journal.substr(from == std::string::npos ? 0 : from + 1);
    }
    const auto& counters = m_host.station().counters;
    for (const auto count : counters.switches)
        m_outcome.switches += static_cast<int>(count);
    m_outcome.switchFailures = counters.switchFailures;
    m_outcome.stalls = counters.stalls;
    m_outcome.streamReceived = m_host.station().display.lblStreamReceived.caption;
    m_outcome.fallbacks =
        counters.switchesBy(SwitchCause::Silence) + counters.switchesBy(SwitchCause::SourceDead);
    const auto& state = m_host.state();
    m_outcome.outputFailed = m_host.station().output.failed;
    const std::string errors = m_host.read("error.log");
    for (std::size_t at = 0; (at = errors.find("OUTPUT FAILED ", at)) != std::string::npos; ++at)
        ++m_outcome.outputFailedLines;
    m_outcome.onAir = state.CurrentSource;
    m_outcome.onAirPlayerRuns =
        state.CurrentSource >= 0 && m_host.players.isRunning(state.CurrentMplayer) &&
        m_host.players.urlOf(state.CurrentMplayer) == urlOf(state.CurrentSource);
    for (const auto& issued : m_host.players.issued()) {
        if (const auto* start = std::get_if<StartPlayer>(&issued.what)) {
            for (int n = 0; n < kSources; ++n) {
                if (start->address == urlOf(n))
                    m_outcome.starts.emplace_back(issued.atMs - m_startMs, n);
            }
        }
    }
    return m_outcome;
}

}  // namespace

std::string AirAction::text() const {
    static const char* const kNames[] = {"player of slot %a dies",
                                         "stream of slot %a stalls",
                                         "source %a behaves as %b",
                                         "server %a up: %b",
                                         "source %a sounds: %b",
                                         "operator orders %a",
                                         "API client orders %a",
                                         "management orders %a",
                                         "mode toggles",
                                         "events in %a s, %a+1 s to %b",
                                         "disk full: %a",
                                         "sound device missing: %a"};
    std::string text = kNames[kind];
    for (std::size_t at; (at = text.find("%a")) != std::string::npos;)
        text.replace(at, 2, std::to_string(a));
    for (std::size_t at; (at = text.find("%b")) != std::string::npos;)
        text.replace(at, 2, std::to_string(b));
    return "+" + std::to_string(atMs) + " ms " + text;
}

AirOutcome runAir(const AirRun& run) {
    return AirSimulation(run).run();
}

AirRun randomAirRun(std::uint64_t seed, double days) {
    std::mt19937_64 random(seed);
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    AirRun run;
    run.seconds = days * 86400;
    run.switchTimeout = uniform(6, 20);
    // Kinds by weight: faults and orders often, mode and disk rarely.
    const std::pair<AirAction::Kind, int> weights[] = {
        {AirAction::PlayerDies, 6},    {AirAction::StreamStalls, 3},
        {AirAction::SourceBehaves, 8}, {AirAction::ServerDown, 4},
        {AirAction::SourceSounds, 4},  {AirAction::OperatorOrders, 4},
        {AirAction::ApiOrders, 6},     {AirAction::ManagementOrders, 3},
        {AirAction::ModeToggles, 1},   {AirAction::ScheduleEvents, 6},
        {AirAction::DiskFills, 1},     {AirAction::OutputFails, 1}};
    int total = 0;
    for (const auto& [kind, weight] : weights)
        total += weight;
    std::int64_t atMs = 0;
    const auto endMs = static_cast<std::int64_t>(run.seconds * 1000);
    // MANUAL, a full disk and a missing device come in spells of up to ten
    // minutes, so that most of a day is a station at work in AUTOMATIC mode.
    std::map<AirAction::Kind, std::int64_t> spellEndsAt;
    for (;;) {
        // Mostly within a switch's time of the last thing, sometimes minutes later.
        atMs += uniform(0, 3) == 0 ? uniform(20'000, 300'000) : uniform(0, 12'000);
        if (atMs >= endMs) break;
        int pick = uniform(1, total);
        AirAction::Kind kind = AirAction::PlayerDies;
        for (const auto& [k, weight] : weights) {
            if ((pick -= weight) <= 0) {
                kind = k;
                break;
            }
        }
        if (kind == AirAction::ModeToggles || kind == AirAction::DiskFills ||
            kind == AirAction::OutputFails) {
            std::int64_t& endsAt = spellEndsAt[kind];
            if (atMs < endsAt) continue;
            endsAt = atMs + uniform(10'000, 600'000);
            run.actions.push_back({atMs, kind, 1, 0});
            run.actions.push_back({endsAt, kind, 0, 0});
            continue;
        }
        AirAction action{atMs, kind, uniform(0, kSources - 1), 0};
        switch (kind) {
            case AirAction::PlayerDies:
            case AirAction::StreamStalls:
                action.a = uniform(1, 2);
                break;
            case AirAction::SourceBehaves:
                // Mostly back to good: faults come and go.
                action.b = uniform(0, 1) == 0 ? 0 : uniform(0, kBehaviours - 1);
                break;
            case AirAction::ServerDown:
            case AirAction::SourceSounds:
                action.b = uniform(0, 2) == 0 ? 0 : 1;
                break;
            case AirAction::ScheduleEvents:
                action.a = uniform(12, 90);
                action.b = uniform(0, kSources - 1);
                break;
            default:
                break;
        }
        run.actions.push_back(action);
    }
    std::stable_sort(run.actions.begin(), run.actions.end(),
                     [](const AirAction& x, const AirAction& y) { return x.atMs < y.atMs; });
    return run;
}

AirRun shrinkAirRun(const AirRun& failing, const AirOutcome& outcome, double budgetSeconds) {
    const auto started = std::chrono::steady_clock::now();
    const auto inBudget = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() <
               budgetSeconds;
    };
    // A candidate that still fails the same way becomes the best, cut off
    // just after its violation.
    AirRun best = failing;
    const auto cutAfter = [](AirRun& run, std::int64_t violationMs) {
        run.seconds = static_cast<double>(violationMs) / 1000 + 2;
        std::erase_if(run.actions, [&](const AirAction& a) { return a.atMs > violationMs; });
    };
    cutAfter(best, outcome.atMs);
    const auto tryCandidate = [&](AirRun candidate) {
        const AirOutcome tried = runAir(candidate);
        if (tried.invariant != outcome.invariant) return false;
        cutAfter(candidate, tried.atMs);
        best = std::move(candidate);
        return true;
    };
    // The last minutes alone first, moved to the start of a run: most faults
    // need only what happened shortly before them.
    for (const std::int64_t windowMs : {300'000, 1'200'000, 3'600'000, 14'400'000}) {
        if (!inBudget()) break;
        const std::int64_t from = outcome.atMs - windowMs;
        if (from <= 60'000) break;
        AirRun candidate = best;
        std::erase_if(candidate.actions, [&](const AirAction& a) { return a.atMs < from; });
        for (AirAction& action : candidate.actions)
            action.atMs -= from - 60'000;
        candidate.seconds -= static_cast<double>(from - 60'000) / 1000;
        if (tryCandidate(std::move(candidate))) break;
    }
    // Long quiet spells next: a settled station waits out a shorter one the
    // same way, and every later run is quicker.
    for (const std::int64_t longestGapMs : {120'000, 30'000}) {
        if (!inBudget()) break;
        AirRun candidate = best;
        std::int64_t shift = 0, previous = 0;
        for (AirAction& action : candidate.actions) {
            const std::int64_t gap = action.atMs - previous;
            previous = action.atMs;
            shift += std::max<std::int64_t>(gap - longestGapMs, 0);
            action.atMs -= shift;
        }
        candidate.seconds -= static_cast<double>(shift) / 1000;
        tryCandidate(std::move(candidate));
    }
    for (std::size_t chunk = std::max<std::size_t>(best.actions.size() / 2, 1);
         chunk >= 1 && inBudget(); chunk /= 2) {
        for (std::size_t from = 0; from < best.actions.size() && inBudget();) {
            AirRun candidate = best;
            const auto first = candidate.actions.begin() + static_cast<long>(from);
            candidate.actions.erase(
                first, first + static_cast<long>(std::min(chunk, best.actions.size() - from)));
            if (!tryCandidate(std::move(candidate))) from += chunk;
        }
        if (chunk == 1) break;
    }
    return best;
}

}  // namespace kestrel::test
