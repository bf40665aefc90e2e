#include "support/fault_simulation.h"

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "api/api_request.h"
#include "station/time_format.h"
#include "support/sim_host.h"

namespace kestrel::test {
namespace {

constexpr int kSources = 10;
// Slow answers: a few seconds, the 20 s of a sluggish server, a black hole
// that answers only at the 60 s time-out.
constexpr double kDelays[] = {3, 8, 20, 60};
// An outage is seen within a second and its source started at once, unless
// the source was restarted in the last 15 s; a switch that runs meanwhile
// may take up to its time-out first.
constexpr double kOutageReach = 3;
constexpr double kRestartSpacing = 15 + 1;
// A stall costs at most this much silence while its source can play.
constexpr double kStallSilence = 5;
// A switch waits for its new player at most the default SwitchTimeout (10 s),
// longer than the overlap only while a player is on air: a new player that
// cannot be checked, or never prints its line, plays after that long.
constexpr std::int64_t kLongestSwitchMs = 10'000 + 1'000;

std::string sourceUrl(int n) {
    return "http://s" + std::to_string(n) + ".test:8000/live";
}

// Which source's server a URL (stream or health test) belongs to; -1 none.
int serverOf(const std::string& url) {
    const auto at = url.find("http://s");
    if (at != 0 || url.size() < 10 || url.compare(9, 6, ".test:") != 0) return -1;
    const char digit = url[8];
    return digit >= '0' && digit <= '9' ? digit - '0' : -1;
}

std::string sourceList() {
    std::string text = "; fault simulation sources\r\n";
    for (int n = 0; n < kSources; ++n) {
        text += std::to_string(n) + "n:Source " + std::to_string(n) + "\r\n";
        text += std::to_string(n) + "u:" + sourceUrl(n) + "\r\n";
    }
    return text;
}

std::string icyLog(int n, int song) {
    return "Name   : Station " + std::to_string(n) +
           "\nGenre  : Test\n\nICY Info: StreamTitle='Artist " + std::to_string(n) + " - Song " +
           std::to_string(song) + "';StreamUrl='';\n";
}

class Simulation {
public:
    Simulation(std::uint64_t seed, int days) : m_random(seed), m_days(days) {}

    FaultSimulationResult run();

private:
    std::mt19937_64 m_random;
    int m_days;
    SimHost m_host;
    FaultSimulationResult m_result;

    std::array<bool, kSources> m_serverUp{};
    std::set<std::string> m_scheduleContents;  // every whole schedule written or served
    std::string m_managementSchedule;
    std::string m_pollAnswer;
    double m_managementDelay = 0;
    int m_managementMode = 0;  // 0 good, 1 HTTP 500, 2 unreachable, 3 empty body
    bool m_manual = false;
    std::int64_t m_manualUntilMs = 0;
    std::int64_t m_garbageSourcesUntilMs = 0;
    int m_song = 0;

    // Outage tracking: no player runs while the station has played before.
    bool m_everPlayed = false;
    std::int64_t m_outageSinceMs = -1;
    int m_restartLinesAtOutageStart = 0;
    bool m_outageExempt = false;  // manual mode or an unplayable source during it
    double m_outageAllowed = 0;   // seconds, grown by a switch that runs during it

    // The stall injected last: silence from its "Cache empty" line until a
    // new player starts, and the STALL lines meanwhile.
    struct Stall {
        std::int64_t silentFromMs;
        int stallLinesBefore;
        bool recovers;  // an underrun: data trickles in, in full again a second after the line
        double allowed;
        int slot;  // of the stalled player
    };
    std::optional<Stall> m_stall;
    void checkStall();
    // Players of one source's URL end a few seconds after each start until then.
    std::string m_flakyUrl;
    std::int64_t m_flakyUntilMs = 0;
    std::int16_t m_lastSilence = 0;
    bool m_switchAwaySinceDeclared = false;
    // The latest operator, API or management order: it replaces the events
    // that came due before it (a poll's answer is acted on up to two minutes later).
    std::int64_t m_lastOrderMs = -1'000'000;
    std::int64_t m_latestDueMs = 0;  // of the events expected so far

    int uniform(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(m_random);
    }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }
    double nowSeconds() const { return static_cast<double>(m_host.clock.ms()) / 1000.0; }

    void setUpStation();
    void setServer(int n, bool up);
    std::string randomSchedule();
    void injectEvent();
    void checkInvariants();
    void checkFiles();
    void violation(const std::string& what);
    int restartLines();
    void trace(const std::string& what);
    std::string recentTrace() const;

    std::size_t m_errorLogRead = 0;
    int m_restartCount = 0;
    int m_stallCount = 0;
    std::int64_t m_lastRestartLineMs = -1'000'000;  // a RESTART or STALL line, when seen
    std::string m_lastRestartLineSource;
    bool restartedLately(std::int64_t atMs) const {
        return atMs - m_lastRestartLineMs < static_cast<std::int64_t>(kRestartSpacing * 1000);
    }
    std::array<std::string, 60> m_trace;
    std::size_t m_traceNext = 0;
    std::size_t m_commandsSeen = 0;
    // Scheduled events: each one due while the station could act must start
    // its source's player within a second, however slow the services are.
    struct DueEvent {
        std::int64_t dueMs;
        int source;
        std::string text;
    };
    std::vector<DueEvent> m_dueEvents;
    std::string m_lastNextEvent;
    std::vector<std::string> m_scheduleLines;
    bool m_scheduleWritten = true;  // by the simulation; a download changes the caption
    std::string m_configCaption;
    std::string m_scheduleText;
    std::int64_t m_scheduleChangedMs = 0;
    std::deque<std::pair<std::int64_t, int>> m_recentStarts;  // time and source of player starts
    void readScheduleWhenChanged();
    void expectEventsDue(std::int64_t fromMs, std::int64_t toMs, std::int16_t sourceBefore);
    void playerStarted(const FakePlayers::Issued& command);
    void checkEventsFired();
    bool waitedForAnotherSwitch(const DueEvent& event) const;

    // API switches: answered within two switches (its own, and one it waited for).
    struct ApiSwitch {
        std::int64_t askedMs;
        Task<bool> switching;
    };
    std::vector<ApiSwitch> m_apiSwitches;
    void checkApiSwitches();

    int runningPlayers() const { return m_host.players.isRunning(1) + m_host.players.isRunning(2); }
    std::array<FakeFetcher*, 3> managementFetchers() {
        return {&m_host.managementFetcher, &m_host.changePollFetcher, &m_host.statusReportFetcher};
    }
};

void Simulation::violation(const std::string& what) {
    if (m_result.violations.size() >= 5) return;
    const auto t = m_host.clock.now();
    const auto& state = m_host.state();
    m_result.violations.push_back(
        formatDate(t) + " " + formatTime(t) + ": " + what + "\n  state: CurrentSource " +
        std::to_string(state.CurrentSource) + ", NextEvent " + state.NextEvent + ", LastEvent " +
        state.LastEvent + ", SilenceFlag " + std::to_string(state.SilenceFlag) + ", PlayURL " +
        state.PlayURL + ", PendingSource " + std::to_string(state.PendingSource) +
        (m_manual ? ", manual" : "") + "\n  recent events:" + recentTrace());
}

int Simulation::restartLines() {
    // Counts only what was appended since the last call: the log grows all month.
    // Asked every virtual second, so an unchanged size is told by one stat.
    const auto path = m_host.dir.path() / "error.log";
    std::error_code unknown;
    if (std::filesystem::file_size(path, unknown) == m_errorLogRead || unknown)
        return m_restartCount;
    std::ifstream log(path, std::ios::binary);
    if (!log) return m_restartCount;
    log.seekg(static_cast<std::streamoff>(m_errorLogRead));
    std::string appended((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    m_errorLogRead += appended.size();
    std::istringstream lines(appended);
    for (std::string line; std::getline(lines, line);) {
        const bool restart = line.starts_with("RESTART ");
        if (!restart && !line.starts_with("STALL ")) continue;
        trace("error.log: " + line);
        ++(restart ? m_restartCount : m_stallCount);
        // One source is restarted at most once per 15 s (seen within a step).
        const std::string source = line.substr(line.rfind(':') + 1);
        const auto now = m_host.clock.ms();
        if (source == m_lastRestartLineSource && now - m_lastRestartLineMs < 14'000)
            violation("two restart lines for one source within 15 s");
        m_lastRestartLineMs = now;
        m_lastRestartLineSource = source;
    }
    return m_restartCount;
}

void Simulation::trace(const std::string& what) {
    const auto t = m_host.clock.now();
    m_trace[m_traceNext % m_trace.size()] = formatTime(t) + " " + what;
    ++m_traceNext;
}

std::string Simulation::recentTrace() const {
    std::string text;
    const std::size_t count = std::min(m_traceNext, m_trace.size());
    for (std::size_t i = m_traceNext - count; i < m_traceNext; ++i) {
        text += "\n    " + m_trace[i % m_trace.size()];
    }
    return text;
}

void Simulation::setServer(int n, bool up) {
    trace("server " + std::to_string(n) + (up ? " up" : " down"));
    m_serverUp[n] = up;
    if (up) {
        m_host.players.unplayableUrls.erase(sourceUrl(n));
        return;
    }
    m_host.players.unplayableUrls.insert(sourceUrl(n));
    // A player of a dead server ends with it.
    for (int slot : {1, 2}) {
        if (m_host.players.isRunning(slot) && m_host.players.urlOf(slot) == sourceUrl(n)) {
            m_host.players.die(slot);
        }
    }
}

std::string Simulation::randomSchedule() {
    std::string text = "; schedule\r\n";
    const int events = uniform(5, 60);
    for (int i = 0; i < events; ++i) {
        text += std::to_string(uniform(1, 7)) + " " + zeroPadded(uniform(0, 23), 2) +
                zeroPadded(uniform(0, 59), 2) + zeroPadded(uniform(0, 59), 2) + " " +
                std::to_string(uniform(0, 9)) + "\r\n";
    }
    return text;
}

void Simulation::setUpStation() {
    m_host.write("kestrelfield.ini",
                 "[Kestrelfield]\r\nDefaultStrapline=Fault Radio\r\nExtraMetaNowPlaying=Now:\r\n"
                 "ManagementUpdate=7\r\nManagementURL=http://mgmt.test/schedule\r\n"
                 "ManagementSendURL=http://mgmt.test/status\r\nManagementKey=k\r\n"
                 "ManagementSwitcher=sim\r\nCheckForChanges=1\r\n"
                 "CheckForChangeURL=http://mgmt.test/poll\r\nAPIallowed=1\r\nAPIKey=key\r\n"
                 "AIRenable=1\r\nAIRid=s1\r\nMetaWeather=1\r\nMetaLocation=Leeds\r\n"
                 "CheckSource=1\r\n");
    m_host.write("sourcelist.ini", sourceList());
    const std::string schedule = randomSchedule();
    m_host.write("sourceevents.ini", schedule);
    m_scheduleContents.insert(schedule);
    m_managementSchedule = randomSchedule();
    m_scheduleContents.insert(m_managementSchedule);
    m_serverUp.fill(true);
    for (int n = 0; n < kSources; ++n)
        m_host.players.logForUrl[sourceUrl(n)] = icyLog(n, 0);
    // A far server that is slow to start, and a player that never says it plays.
    m_host.players.behaviourForUrl[sourceUrl(8)] = {4.2, -1};
    m_host.players.behaviourForUrl[sourceUrl(6)] = {-1, -1};

    m_host.sourceCheckFetcher.respond = [this](const std::string& url) {
        const int server = serverOf(url);
        return server >= 0 && m_serverUp[server] ? FakeFetcher::ok("online")
                                                 : FakeFetcher::failed("refused");
    };
    auto management = [this](const std::string& url) {
        if (m_managementMode == 2) return FakeFetcher::failed("unreachable");
        if (m_managementMode == 1) return FakeFetcher::ok("<h1>Internal error</h1>", 500);
        if (m_managementMode == 3) return FakeFetcher::ok("");
        if (url.rfind("http://mgmt.test/schedule?", 0) == 0)
            return FakeFetcher::ok(m_managementSchedule);
        if (url.rfind("http://mgmt.test/poll?", 0) == 0) {
            std::string answer;
            std::swap(answer, m_pollAnswer);
            return FakeFetcher::ok(answer);
        }
        return FakeFetcher::ok("OK");
    };
    for (FakeFetcher* fetcher : managementFetchers())
        fetcher->respond = management;
    m_host.weatherFetcher.respond = [](const std::string&) {
        return FakeFetcher::ok(
            R"({"main":{"temp":280.32,"pressure":1012,"humidity":81},"name":"Leeds"})");
    };
    m_host.airFetcher.respond = [](const std::string&) { return FakeFetcher::ok("OK"); };
}

void Simulation::injectEvent() {
    ++m_result.injectedEvents;
    auto& players = m_host.players;
    const int kind = uniform(0, 17);
    static const char* const kinds[] = {
        "player crash",  "player crash",          "player crash",
        "server toggle", "server toggle",         "operator switch",
        "API request",   "poll answer",           "management behaviour",
        "schedule edit", "garbled source list",   "manual mode",
        "new songs",     "process checks toggle", "slow services",
        "stream stall",  "flaky player",          "quiet"};
    trace(std::string("inject: ") + kinds[kind]);
    switch (kind) {
        case 0:
        case 1:
        case 2:  // a player crashes
            for (int slot : {1, 2}) {
                if (players.isRunning(slot)) players.die(slot);
            }
            break;
        case 3:
        case 4: {  // a stream server dies, or comes back
            const int n = uniform(0, kSources - 1);
            setServer(n, !m_serverUp[n]);
            break;
        }
        case 5: {  // the operator forces a switch
            const int n = uniform(0, 9);
            m_host.display().comboSourceList.text =
                std::to_string(n) + " Select Source number " + std::to_string(n);
            m_host.controller->cmdForceSwitch_Click();
            m_switchAwaySinceDeclared = true;
            m_lastOrderMs = m_host.clock.ms();
            break;
        }
        case 6: {  // an API client switches, or asks
            const int n = uniform(0, 9);
            const std::string paths[] = {
                "/api/setcurrent.php?id=key" + std::to_string(n), "/api/getcurrent.php?id=key",
                "/api/listsources.php?id=key", "/api/metadata.php?id=nokey"};
            const auto& path = paths[uniform(0, 3)];
            auto outcome =
                handleRequest(m_host.station(), "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
            if (outcome.switching) {
                m_switchAwaySinceDeclared = true;
                m_lastOrderMs = m_host.clock.ms();
                m_apiSwitches.push_back({m_host.clock.ms(), std::move(*outcome.switching)});
            }
            break;
        }
        case 7: {  // the management server orders a switch, or something odd
            const std::string answers[] = {
                "3", std::to_string(uniform(0, 9)), "x", "", " 3", "3\r\n", "99999"};
            m_pollAnswer = answers[uniform(0, 6)];
            m_lastOrderMs = m_host.clock.ms();
            break;
        }
        case 8:  // the management server changes its behaviour
            m_managementMode = chance(0.5) ? 0 : uniform(1, 3);
            m_managementDelay = chance(0.7) ? 0.0 : kDelays[uniform(0, 3)];
            for (FakeFetcher* fetcher : managementFetchers())
                fetcher->delaySeconds = m_managementDelay;
            trace("management answers take " + std::to_string(static_cast<int>(m_managementDelay)) +
                  " s");
            if (chance(0.3)) {
                m_managementSchedule = randomSchedule();
                m_scheduleContents.insert(m_managementSchedule);
            }
            break;
        case 9:  // the operator edits the schedule
            if (chance(0.8)) {
                const std::string schedule = randomSchedule();
                m_host.write("sourceevents.ini", schedule);
                m_scheduleContents.insert(schedule);
                m_scheduleWritten = true;
            } else {
                std::string garbage(uniform(0, 4000), '\0');
                for (auto& c : garbage)
                    c = static_cast<char>(uniform(0, 255));
                m_host.write("sourceevents.ini", garbage);
                m_scheduleContents.insert(garbage);
                m_scheduleWritten = true;
            }
            break;
        case 10:  // a garbled source list for a while
            if (m_garbageSourcesUntilMs == 0) {
                std::string garbage(uniform(0, 2000), '\0');
                for (auto& c : garbage)
                    c = static_cast<char>(uniform(0, 255));
                m_host.write("sourcelist.ini", garbage);
                m_garbageSourcesUntilMs = m_host.clock.ms() + uniform(10, 300) * 1000;
            }
            break;
        case 11:  // the operator goes manual for a while
            if (!m_manual) {
                m_host.controller->cmdAutoManual();
                m_manual = true;
                m_manualUntilMs = m_host.clock.ms() + uniform(30, 1800) * 1000;
            }
            break;
        case 12:  // a new song on every stream, sometimes garbage in the log
            ++m_song;
            for (int n = 0; n < kSources; ++n) {
                players.logForUrl[sourceUrl(n)] = icyLog(n, m_song);
            }
            if (chance(0.2)) {
                std::string garbage(uniform(0, 3000), '\0');
                for (auto& c : garbage)
                    c = static_cast<char>(uniform(0, 255));
                players.logForUrl[sourceUrl(uniform(0, 9))] = garbage;
            }
            break;
        case 13:  // process checks fail for a moment
            players.checksFail = !players.checksFail;
            break;
        case 14:  // a service turns slow, black-holed (answers only at the time-out) or quick
            for (FakeFetcher* fetcher :
                 {&m_host.weatherFetcher, &m_host.airFetcher, &m_host.sourceCheckFetcher}) {
                fetcher->delaySeconds = chance(0.5) ? 0.0 : kDelays[uniform(0, 3)];
            }
            trace("weather, AIR and server checks slow or quick");
            break;
        case 15: {  // the stream on air stops sending, for good or for a moment
            const int slot = m_host.state().CurrentMplayer;
            if (m_stall || slot == 0 || !players.isRunning(slot)) break;
            const bool recovers = chance(0.3);
            trace("slot " + std::to_string(slot) + (recovers ? " underrun" : " stalls"));
            players.stall(slot, recovers ? FakePlayers::kCacheLastsSeconds + 1 : -1, true,
                          recovers);
            const auto silentFrom = m_host.clock.ms() + static_cast<std::int64_t>(
                                                            FakePlayers::kCacheLastsSeconds * 1000);
            m_stall =
                Stall{silentFrom, m_stallCount, recovers,
                      kStallSilence + (restartedLately(silentFrom) ? kRestartSpacing : 0), slot};
            break;
        }
        case 16:  // the on-air source's players die a few seconds after each start
            if (m_flakyUntilMs == 0 && !m_host.state().PlayURL.empty()) {
                m_flakyUrl = m_host.state().PlayURL;
                players.behaviourForUrl[m_flakyUrl] = {0, static_cast<double>(uniform(1, 10))};
                m_flakyUntilMs = m_host.clock.ms() + uniform(60, 600) * 1000;
            }
            break;
        default:
            break;  // a quiet spell
    }
}

void Simulation::checkStall() {
    const auto now = m_host.clock.ms();
    if (!m_stall || now < m_stall->silentFromMs) return;
    const int stallLines = m_stallCount - m_stall->stallLinesBefore;
    if (m_stall->recovers) {
        if (stallLines > 0) violation("an underrun that recovered was taken for a stall");
        if (now >= m_stall->silentFromMs + 3000) m_stall.reset();
        return;
    }
    const auto& state = m_host.state();
    const int server = serverOf(state.PlayURL);
    // A stall whose source cannot play again, or whose player ended, is an outage.
    if (server < 0 || !m_serverUp[server] || m_host.players.checksFail || runningPlayers() == 0 ||
        !m_flakyUrl.empty()) {
        m_stall.reset();
        return;
    }
    if (m_host.station().switching) m_stall->allowed += 1;  // a switch's time-out first
    // A player started before the silence (a retry, say) may have taken over from it.
    const bool takenOver = !m_host.players.isRunning(m_stall->slot);
    const bool newPlayer = takenOver || (!m_recentStarts.empty() &&
                                         m_recentStarts.back().first >= m_stall->silentFromMs);
    const double silence =
        takenOver ? 0
                  : static_cast<double>((newPlayer ? m_recentStarts.back().first : now) -
                                        m_stall->silentFromMs) /
                        1000.0;
    if (silence > m_stall->allowed) {
        violation("a stall left " + std::to_string(silence) + " s of silence");
    } else if (newPlayer && stallLines > 1) {
        violation(std::to_string(stallLines) + " STALL lines for one stall");
    }
    if (newPlayer || silence > m_stall->allowed) m_stall.reset();
}

void Simulation::checkFiles() {
    for (const char* name : {"metadata.txt", "metaextra.txt"}) {
        const std::string content = m_host.read(name);
        if (content == "<missing>") continue;
        if (content.size() < 2 || content.compare(content.size() - 2, 2, "\r\n") != 0 ||
            content.find("\r\n") != content.size() - 2) {
            violation(std::string(name) + " is not one whole line: \"" + content + "\"");
        }
    }
    const std::string schedule = m_host.read("sourceevents.ini");
    if (!m_scheduleContents.count(schedule)) {
        violation("sourceevents.ini holds something nobody wrote (" +
                  std::to_string(schedule.size()) + " bytes)");
    }
}

void Simulation::checkInvariants() {
    const auto& state = m_host.state();
    const int running = runningPlayers();
    // Both slots play only during a switch's overlap.
    if (running > 1 && !m_host.station().switching) {
        violation("both player slots run after a switch");
    }
    if (state.CurrentSource < -1 || state.CurrentSource > 9) {
        violation("CurrentSource out of range: " + std::to_string(state.CurrentSource));
    }
    if (running > 0) m_everPlayed = true;

    // Declared failures end in recovery or an operator/API switch.
    if (state.SilenceFlag != m_lastSilence) {
        if (state.SilenceFlag == 1) {
            ++m_result.declaredFailures;
            m_switchAwaySinceDeclared = false;
        } else {
            const int watched = serverOf(state.LinkStoredSource);
            const bool recovered = watched >= 0 && m_serverUp[watched];
            if (recovered) ++m_result.recoveries;
            if (!recovered && !m_switchAwaySinceDeclared) {
                violation(
                    "a declared failure ended without recovery or a switch to another source");
            }
        }
        m_lastSilence = state.SilenceFlag;
    }

    // Outages: at most one RESTART line for a playable source, at least one
    // when the watchdog had time to see it.
    // The source the station wants: the pending one, else the one on air (or last on air).
    const int wanted = state.PendingSource != -1 ? state.PendingSource : serverOf(state.PlayURL);
    const bool playable = wanted >= 0 && wanted < kSources && m_serverUp[wanted];
    if (running == 0 && m_everPlayed) {
        if (m_outageSinceMs < 0) {
            m_outageSinceMs = m_host.clock.ms();
            m_restartLinesAtOutageStart = restartLines();
            m_outageExempt = false;
            m_outageAllowed =
                kOutageReach + (restartedLately(m_outageSinceMs) ? kRestartSpacing : 0);
        }
        // Failover, recovery and MANUAL mode get no exemption: only a source
        // that cannot play while source 0 cannot stand in (MANUAL mode, its
        // server down, it is the dead one, or no list to find it in), or
        // process checks that cannot be made.
        const bool standIn =
            !m_manual && m_serverUp[0] && m_garbageSourcesUntilMs == 0 && wanted != 0;
        if ((!playable && !standIn) || m_host.players.checksFail) m_outageExempt = true;
        const double length = static_cast<double>(m_host.clock.ms() - m_outageSinceMs) / 1000.0;
        if (m_host.station().switching) m_outageAllowed += 1;
        if (!m_outageExempt && length > m_outageAllowed) {
            violation("no player for " + std::to_string(length) + " s with a playable source");
            m_outageExempt = true;
        }
    } else if (m_outageSinceMs >= 0) {
        const int lines = restartLines() - m_restartLinesAtOutageStart;
        const double length = static_cast<double>(m_host.clock.ms() - m_outageSinceMs) / 1000.0;
        if (!m_outageExempt && lines > 1)
            violation(std::to_string(lines) + " RESTART lines for one outage");
        if (!m_outageExempt && lines == 0 && length > m_outageAllowed) {
            violation("an outage of " + std::to_string(length) + " s left no RESTART line");
        }
        m_outageSinceMs = -1;
    }
}

void Simulation::readScheduleWhenChanged() {
    // A download's "Config updated" may be replaced by the countdown within
    // the same second: look at the file whenever the caption changed.
    const auto& caption = m_host.display().lblConfigurationStatus.caption;
    if (caption != m_configCaption) {
        m_configCaption = caption;
        m_scheduleWritten = true;
    }
    if (!m_scheduleWritten) return;
    m_scheduleWritten = false;
    std::string content = m_host.read("sourceevents.ini");
    if (content == m_scheduleText) return;
    m_scheduleText = std::move(content);
    m_scheduleChangedMs = m_host.clock.ms();
    m_scheduleLines.clear();
    std::istringstream text(m_scheduleText);
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        m_scheduleLines.push_back(line);
    }
}

void Simulation::expectEventsDue(std::int64_t fromMs, std::int64_t toMs,
                                 std::int16_t sourceBefore) {
    readScheduleWhenChanged();
    // Not the executor's to fire: manual mode, an edit the schedule reading
    // has not seen, or a source list that names no address.
    if (m_manual || toMs - m_scheduleChangedMs < 20'000 || m_garbageSourcesUntilMs != 0) return;
    const auto today = m_host.clock.now();
    const std::int64_t midnightMs =
        toMs - (static_cast<std::int64_t>(today.secondsSinceMidnight()) * 1000 + toMs % 1000);
    // Every event fires on its second; of two with the same second only the first in the file.
    std::map<int, const std::string*> firstOfSecond;
    for (const auto& line : m_scheduleLines) {
        if (line.size() != 10 || line[0] == ';' || line[1] != ' ') continue;
        if (line[0] != static_cast<char>('0' + today.weekday)) continue;
        firstOfSecond.try_emplace(std::atoi(line.substr(2, 6).c_str()), &line);
    }
    for (const auto& [time, line] : firstOfSecond) {
        const int hour = time / 10000, minuteOfHour = time / 100 % 100, second = time % 100;
        if (hour > 23 || minuteOfHour > 59 || second > 59) continue;
        const std::int64_t dueMs = midnightMs + (hour * 3600 + minuteOfHour * 60 + second) * 1000;
        const int source = line->back() - '0';
        if (dueMs <= fromMs || dueMs > toMs || source < 0 || source > 9) continue;
        if (source == sourceBefore) continue;  // already on air: nothing to switch
        m_dueEvents.push_back({dueMs, source, *line});
        m_latestDueMs = std::max(m_latestDueMs, dueMs);
    }
}

// A switch started just before the event's second holds the executor's
// next look back by its overlap; that wait is the station's own, not a slow
// service's.
bool Simulation::waitedForAnotherSwitch(const DueEvent& event) const {
    return std::any_of(m_recentStarts.begin(), m_recentStarts.end(), [&](const auto& start) {
        return start.second != event.source && start.first >= event.dueMs - kLongestSwitchMs &&
               start.first <= event.dueMs + 1000;
    });
}

void Simulation::playerStarted(const FakePlayers::Issued& command) {
    const auto at = command.command.find("http://s");
    if (command.command.rfind("cmd /c mplayer", 0) != 0 || at == std::string::npos) return;
    const int source = serverOf(command.command.substr(at));
    for (auto it = m_dueEvents.begin(); it != m_dueEvents.end(); ++it) {
        if (it->source != source || command.atMs < it->dueMs) continue;
        const auto lateness = command.atMs - it->dueMs;
        if (!waitedForAnotherSwitch(*it)) {
            m_result.maxEventLatenessMs = std::max(m_result.maxEventLatenessMs, lateness);
            ++m_result.eventsChecked;
            if (lateness > 1000) {
                violation("event " + it->text + " started " + std::to_string(lateness) +
                          " ms late");
            }
        }
        m_dueEvents.erase(it);
        break;
    }
    m_recentStarts.emplace_back(command.atMs, source);
    if (m_recentStarts.size() > 8) m_recentStarts.pop_front();
}

void Simulation::checkEventsFired() {
    const auto now = m_host.clock.ms();
    std::erase_if(m_dueEvents, [&](const DueEvent& event) {
        const bool waited = waitedForAnotherSwitch(event);
        if (now - event.dueMs <= (waited ? kLongestSwitchMs + 1000 : 1000)) return false;
        // Someone else put the source on air meanwhile: the event's wish holds.
        // A source that is starting, or whose server is down while another
        // one plays, is the pending one.
        // A later event or order that came due meanwhile replaces it.
        const bool replaced = m_latestDueMs > event.dueMs || m_lastOrderMs >= event.dueMs - 125'000;
        const auto& state = m_host.state();
        if (!replaced && state.CurrentSource != event.source &&
            state.PendingSource != event.source) {
            violation("event " + event.text + " did not start its source in time");
        }
        return true;
    });
}

void Simulation::checkApiSwitches() {
    const auto now = m_host.clock.ms();
    std::erase_if(m_apiSwitches, [&](const ApiSwitch& request) {
        if (request.switching.done()) return true;
        if (now - request.askedMs <= 2 * kLongestSwitchMs) return false;
        violation("an API switch still unanswered after " +
                  std::to_string((now - request.askedMs) / 1000) + " s");
        return true;
    });
}

FaultSimulationResult Simulation::run() {
    setUpStation();
    m_host.start();
    const std::int64_t endMs = m_host.clock.ms() + static_cast<std::int64_t>(m_days) * 86400 * 1000;
    const std::int64_t calmFromMs = endMs - 3600 * 1000;  // the last hour: every server up
    std::int64_t nextEventMs = m_host.clock.ms() + uniform(1, 600) * 1000;
    int lastSource = m_host.state().CurrentSource;
    std::int64_t nextFileCheckMs = 0;
    while (m_host.clock.ms() < endMs && m_result.violations.empty()) {
        const int watchdogTicks = m_host.fired["tmrCheckMplayerOK"];
        const auto stepStart = m_host.clock.ms();
        const std::int16_t sourceBefore = m_host.state().CurrentSource;
        const int playersBefore = runningPlayers();
        m_host.runFor(1);
        const auto now = m_host.clock.ms();
        if (m_host.fired["tmrCheckMplayerOK"] != watchdogTicks) trace("watchdog tick");
        if (m_host.state().NextEvent != m_lastNextEvent) {
            m_lastNextEvent = m_host.state().NextEvent;
            trace("NextEvent " + m_lastNextEvent);
        }
        expectEventsDue(stepStart, now, sourceBefore);
        const auto& issued = m_host.players.issued();
        for (; m_commandsSeen < issued.size(); ++m_commandsSeen) {
            trace("command: " + issued[m_commandsSeen].command);
            playerStarted(issued[m_commandsSeen]);
        }
        // Within a step only the station ends players, and no switch trades
        // sound for silence: not the failover, not the recovery. Without
        // process checks a switch cannot see its new player end, and takes
        // over at its time-out.
        if (playersBefore > 0 && runningPlayers() == 0 && !m_host.players.checksFail &&
            m_flakyUrl.empty()) {
            violation("a switch took the source on air off without a new one playing");
        }
        checkEventsFired();
        checkApiSwitches();
        if (issued.size() > 100000) {
            m_host.players.clearIssued();
            m_commandsSeen = 0;
        }
        if (m_host.state().CurrentSource != lastSource) {
            ++m_result.switches;
            lastSource = m_host.state().CurrentSource;
            if (lastSource > 0) m_switchAwaySinceDeclared = true;
        }
        // Observe the second's outcome before the next fault changes it.
        restartLines();
        checkInvariants();
        checkStall();
        if (m_manual && now >= m_manualUntilMs) {
            m_host.controller->cmdAutoManual();
            m_manual = false;
        }
        if (m_flakyUntilMs != 0 && now >= m_flakyUntilMs) {
            m_host.players.behaviourForUrl.erase(m_flakyUrl);
        }
        if (m_flakyUntilMs != 0 && now >= m_flakyUntilMs + 11'000) {  // its last player has ended
            m_flakyUrl.clear();
            m_flakyUntilMs = 0;
        }
        if (m_garbageSourcesUntilMs != 0 && now >= m_garbageSourcesUntilMs) {
            m_host.write("sourcelist.ini", sourceList());
            m_garbageSourcesUntilMs = 0;
        }
        if (now >= calmFromMs) {
            for (int n = 0; n < kSources; ++n) {
                if (!m_serverUp[n]) setServer(n, true);
            }
            m_host.players.checksFail = false;
        } else if (now >= nextEventMs) {
            injectEvent();
            nextEventMs = now + uniform(1, 900) * 1000;
            checkFiles();
        }
        if (now >= nextFileCheckMs) {
            checkFiles();
            nextFileCheckMs = now + 60 * 1000;
        }
    }
    if (m_host.state().SilenceFlag == 1 && m_result.violations.empty()) {
        violation("a declared failure still stands after an hour with every server up");
    }
    m_result.restartLines = restartLines();
    return m_result;
}

}  // namespace

FaultSimulationResult runFaultSimulation(std::uint64_t seed, int days) {
    return Simulation(seed, days).run();
}

}  // namespace kestrel::test
