#include "support/fault_simulation.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "api/api_request.h"
#include "station/time_format.h"
#include "support/sim_host.h"

namespace kestrel::test {
namespace {

constexpr int kSources = 10;

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
    double m_blockedAtOutageStart = 0;
    int m_restartLinesAtOutageStart = 0;
    bool m_outageExempt = false;  // manual mode or an unplayable source during it
    double m_blockedSeconds = 0;  // virtual time spent inside slow fetches
    std::int16_t m_lastSilence = 0;
    bool m_operatorSwitchSinceDeclared = false;

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
    std::array<std::string, 40> m_trace;
    std::size_t m_traceNext = 0;
    std::size_t m_commandsSeen = 0;
    int runningPlayers() const { return m_host.players.isRunning(1) + m_host.players.isRunning(2); }
};

void Simulation::violation(const std::string& what) {
    if (m_result.violations.size() >= 5) return;
    const auto t = m_host.clock.now();
    m_result.violations.push_back(formatDate(t) + " " + formatTime(t) + ": " + what +
                                  "\n  recent events:" + recentTrace());
}

int Simulation::restartLines() {
    // Counts only what was appended since the last call: the log grows all month.
    std::ifstream log(m_host.dir.path() / "error.log", std::ios::binary);
    if (!log) return m_restartCount;
    log.seekg(static_cast<std::streamoff>(m_errorLogRead));
    std::string appended((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    m_errorLogRead += appended.size();
    for (std::size_t at = appended.find("RESTART "); at != std::string::npos;
         at = appended.find("RESTART ", at + 1)) {
        ++m_restartCount;
        trace("error.log: " + appended.substr(at, appended.find('\r', at) - at));
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

    m_host.InetTestURL.respond = [this](const std::string& url) {
        const int server = serverOf(url);
        return server >= 0 && m_serverUp[server] ? FakeFetcher::ok("online")
                                                 : FakeFetcher::failed("refused");
    };
    m_host.Inet1.respond = [this](const std::string& url) {
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
    m_host.InetWeather.respond = [](const std::string&) {
        return FakeFetcher::ok(
            R"({"main":{"temp":280.32,"pressure":1012,"humidity":81},"name":"Leeds"})");
    };
    m_host.InetAIR.respond = [](const std::string&) { return FakeFetcher::ok("OK"); };
}

void Simulation::injectEvent() {
    ++m_result.injectedEvents;
    auto& players = m_host.players;
    const int kind = uniform(0, 15);
    static const char* const kinds[] = {
        "player crash",  "player crash",          "player crash",
        "server toggle", "server toggle",         "operator switch",
        "API request",   "poll answer",           "management behaviour",
        "schedule edit", "garbled source list",   "manual mode",
        "new songs",     "process checks toggle", "quiet",
        "quiet"};
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
            m_operatorSwitchSinceDeclared = true;
            break;
        }
        case 6: {  // an API client switches, or asks
            const int n = uniform(0, 9);
            const std::string paths[] = {
                "/api/setcurrent.php?id=key" + std::to_string(n), "/api/getcurrent.php?id=key",
                "/api/listsources.php?id=key", "/api/metadata.php?id=nokey"};
            const auto& path = paths[uniform(0, 3)];
            handleRequest(m_host.station(), "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
            if (path.find("setcurrent") != std::string::npos) m_operatorSwitchSinceDeclared = true;
            break;
        }
        case 7: {  // the management server orders a switch, or something odd
            const std::string answers[] = {
                "3", std::to_string(uniform(0, 9)), "x", "", " 3", "3\r\n", "99999"};
            m_pollAnswer = answers[uniform(0, 6)];
            break;
        }
        case 8:  // the management server changes its behaviour
            m_managementMode = chance(0.5) ? 0 : uniform(1, 3);
            m_managementDelay = chance(0.7) ? 0.0 : uniform(1, 8);
            m_host.Inet1.delaySeconds = m_managementDelay;
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
            } else {
                std::string garbage(uniform(0, 4000), '\0');
                for (auto& c : garbage)
                    c = static_cast<char>(uniform(0, 255));
                m_host.write("sourceevents.ini", garbage);
                m_scheduleContents.insert(garbage);
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
        default:
            break;  // a quiet spell
    }
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
    m_blockedSeconds = m_host.Inet1.totalDelaySeconds + m_host.InetTestURL.totalDelaySeconds +
                       m_host.InetWeather.totalDelaySeconds + m_host.InetAIR.totalDelaySeconds;
    const int running = runningPlayers();
    if (running > 1) violation("both player slots run after a switch");
    if (state.CurrentSource < -1 || state.CurrentSource > 9) {
        violation("CurrentSource out of range: " + std::to_string(state.CurrentSource));
    }
    if (running > 0) m_everPlayed = true;

    // Declared failures end in recovery or an operator/API switch.
    if (state.SilenceFlag != m_lastSilence) {
        if (state.SilenceFlag == 1) {
            ++m_result.declaredFailures;
            m_operatorSwitchSinceDeclared = false;
        } else {
            const int watched = serverOf(state.LinkStoredSource);
            const bool recovered = watched >= 0 && m_serverUp[watched];
            if (recovered) ++m_result.recoveries;
            if (!recovered && !m_operatorSwitchSinceDeclared) {
                violation("a declared failure ended without recovery or operator switch");
            }
        }
        m_lastSilence = state.SilenceFlag;
    }

    // Outages: at most one RESTART line for a playable source, at least one
    // when the watchdog had time to see it.
    const bool playable = serverOf(state.PlayURL) >= 0 && m_serverUp[serverOf(state.PlayURL)];
    if (running == 0 && m_everPlayed) {
        if (m_outageSinceMs < 0) {
            m_outageSinceMs = m_host.clock.ms();
            m_blockedAtOutageStart = m_blockedSeconds;
            m_restartLinesAtOutageStart = restartLines();
            m_outageExempt = false;
        }
        if (m_manual || !playable || m_host.players.checksFail) m_outageExempt = true;
        const double length = static_cast<double>(m_host.clock.ms() - m_outageSinceMs) / 1000.0;
        const double allowed = 15 + 1 + 3 + (m_blockedSeconds - m_blockedAtOutageStart);
        if (!m_outageExempt && length > allowed) {
            violation("no player for " + std::to_string(length) + " s with a playable source");
            m_outageExempt = true;
        }
    } else if (m_outageSinceMs >= 0) {
        const int lines = restartLines() - m_restartLinesAtOutageStart;
        const double length = static_cast<double>(m_host.clock.ms() - m_outageSinceMs) / 1000.0;
        if (!m_outageExempt && lines > 1)
            violation(std::to_string(lines) + " RESTART lines for one outage");
        if (!m_outageExempt && lines == 0 &&
            length > 15 + 1 + 3 + (m_blockedSeconds - m_blockedAtOutageStart)) {
            violation("an outage of " + std::to_string(length) + " s left no RESTART line");
        }
        m_outageSinceMs = -1;
    }
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
        const auto firedBefore = m_host.fired;
        const auto stepStart = m_host.clock.ms();
        m_host.runFor(1);
        const auto now = m_host.clock.ms();
        if (m_host.fired["tmrCheckMplayerOK"] != watchdogTicks) trace("watchdog tick");
        if (now - stepStart > 1500) {
            std::string names;
            for (const auto& [name, count] : m_host.fired) {
                if (count != firedBefore.at(name)) names += " " + name;
            }
            trace("blocked step of " + std::to_string(now - stepStart) + " ms:" + names);
        }
        const auto& issued = m_host.players.issued();
        for (; m_commandsSeen < issued.size(); ++m_commandsSeen)
            trace("command: " + issued[m_commandsSeen].command);
        if (issued.size() > 100000) {
            m_host.players.clearIssued();
            m_commandsSeen = 0;
        }
        // Observe the second's outcome before the next fault changes it.
        checkInvariants();
        if (m_host.state().CurrentSource != lastSource) {
            ++m_result.switches;
            lastSource = m_host.state().CurrentSource;
        }
        if (m_manual && now >= m_manualUntilMs) {
            m_host.controller->cmdAutoManual();
            m_manual = false;
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
