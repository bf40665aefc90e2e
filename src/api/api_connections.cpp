#include "api/api_connections.h"

#include <iostream>

#include "station/station_events.h"

namespace kestrel {

ApiConnections::ApiConnections(Station& station, FileReader readFile)
    : m_station(station),
      m_readFile(std::move(readFile)),
      m_controlRoom(station),
      m_elements(1),
      m_lines{"(No Connection)"},
      m_self(std::make_shared<ApiConnections*>(this)) {
    m_station.state.TransferString.clear();
    m_station.state.response.clear();
}

ApiConnections::~ApiConnections() {
    *m_self = nullptr;
}

void ApiConnections::listening() {
    m_lines[0] = "00 Listening";
}

std::string ApiConnections::lineTag(int i) {
    const std::string text = "00" + std::to_string(i);
    return text.substr(text.size() - 2);
}

bool ApiConnections::isOpen(int i) const {
    return i > 0 && i < static_cast<int>(m_elements.size()) && m_elements[i].phase != Phase::Closed;
}

bool ApiConnections::awaitsSwitch(int i) const {
    return isOpen(i) && m_elements[i].phase == Phase::Switching;
}

double ApiConnections::now() const {
    return m_station.platform.clock.steadySeconds();
}

int ApiConnections::openFrom(const std::string& client) const {
    int count = 0;
    for (const auto& element : m_elements) {
        if (element.phase != Phase::Closed && element.client == client) ++count;
    }
    return count;
}

// The connection accepted first among those that have sent nothing since,
// accepted before `acceptedBefore`, of `client` when given; 0 when none.
int ApiConnections::oldestIdle(const std::string* client, double acceptedBefore) const {
    int found = 0;
    for (int i = 1; i < static_cast<int>(m_elements.size()); ++i) {
        const auto& element = m_elements[i];
        if (element.phase != Phase::Receiving || !element.pending.empty() ||
            element.acceptedAt > acceptedBefore || (client && element.client != *client)) {
            continue;
        }
        if (found == 0 || element.acceptedAt < m_elements[found].acceptedAt) found = i;
    }
    return found;
}

void ApiConnections::evict(int i, ApiEviction reason) {
    ++m_station.counters.apiEvictionsBy(reason);
    ++m_unjournaled[static_cast<int>(reason)];
    m_lastEvicted = m_elements[i].client;
    closed(i);
    journalEvictions();
}

void ApiConnections::journalEvictions() {
    const double time = now();
    if (m_unjournaled[0] + m_unjournaled[1] == 0 ||
        time - m_evictionsJournaled < kEvictionJournalSeconds) {
        return;
    }
    recordApiEvictions(m_station, m_unjournaled[0], m_unjournaled[1], m_lastEvicted);
    m_unjournaled[0] = m_unjournaled[1] = 0;
    m_evictionsJournaled = time;
}

std::optional<ApiConnections::Admission> ApiConnections::accept(std::string client) {
    Admission admission;
    const double time = now();
    if (m_openCount >= m_hardLimit) {
        admission.evicted = oldestIdle(nullptr, time);
        if (admission.evicted == 0) return std::nullopt;
        evict(admission.evicted, ApiEviction::TableFull);
    } else {
        const bool addressFull = openFrom(client) >= kMaxPerAddress;
        const bool tableFull = m_openCount >= kMaxOpen;
        // Its own address's stale idle connections go first; only a full table takes another's.
        const double stale = time - kGraceSeconds;
        if (addressFull || tableFull) admission.evicted = oldestIdle(&client, stale);
        if (admission.evicted != 0) {
            evict(admission.evicted,
                  addressFull ? ApiEviction::PerAddress : ApiEviction::TableFull);
        } else if (tableFull) {
            admission.evicted = oldestIdle(nullptr, stale);
            if (admission.evicted != 0) evict(admission.evicted, ApiEviction::TableFull);
        }
    }
    int chosen = 1;
    while (chosen < static_cast<int>(m_elements.size()) &&
           m_elements[chosen].phase != Phase::Closed) {
        ++chosen;
    }
    if (chosen == static_cast<int>(m_elements.size())) {
        m_elements.emplace_back();
        m_lines.emplace_back();
    }
    auto& element = m_elements[chosen];
    element.phase = Phase::Receiving;
    element.client = std::move(client);
    element.exchange = ++m_exchanges;
    element.deadline = time + kDeadlineSeconds;
    element.acceptedAt = time;
    element.drained = 0;
    ++m_openCount;
    admission.element = chosen;
    return admission;
}

std::optional<std::string> ApiConnections::receive(int i, std::string_view data) {
    if (!isOpen(i)) return std::nullopt;
    if (m_elements[i].phase != Phase::Receiving) {
        auto& drained = m_elements[i].drained;
        drained += data.size();
        if (drained > kMaxDrained) return std::string();
        return std::nullopt;
    }
    auto& pending = m_elements[i].pending;
    if (pending.empty() && !ControlRoom::mayBecomeRequest(data) && matchesRequestPattern(data))
        return answer(i, data);
    pending.append(data);
    // A control room request is whole once its header and body have come.
    if (ControlRoom::isRequest(pending)) {
        if (m_controlRoom.arrival(pending) == RequestArrival::Partial) return std::nullopt;
        const std::string text = std::move(pending);
        pending.clear();
        return answer(i, text);
    }
    if (ControlRoom::mayBecomeRequest(pending)) return std::nullopt;
    if (matchesRequestPattern(pending) || pending.size() > kMaxPending ||
        !mayBecomeRequest(pending)) {
        const std::string text = std::move(pending);
        pending.clear();
        return answer(i, text);
    }
    return std::nullopt;
}

namespace {

// Keeps a switch request's switch going whatever happens to its connection,
// and hands on, when the switch has ended, whether its source plays.
Task<> answerAfterSwitch(Task<bool> switching,
                         std::function<void(bool played, std::string failure)> ended) {
    bool played = false;
    std::string failure;
    try {
        played = co_await switching;
    } catch (const std::exception& error) {
        failure = failureText(error.what(), api_stage::switchSource);
    } catch (...) {
        failure = failureText("Unexpected failure", api_stage::switchSource);
    }
    ended(played, std::move(failure));
}

}  // namespace

std::optional<std::string> ApiConnections::answer(int i, std::string_view text) {
    auto& element = m_elements[i];
    element.phase = Phase::Answered;
    // The answer gets the same time again to go out before the connection is ended.
    element.deadline = now() + kDeadlineSeconds;
    if (ControlRoom::isRequest(text)) {
        ControlRoom::Answer web = m_controlRoom.answer(text, element.client);
        m_lines[i] = lineTag(i) + " Transfering: " + web.path;
        return std::move(web.bytes);
    }
    RequestOutcome outcome = handleRequest(m_station, text, m_readFile, element.client);
    if (!outcome.failure.empty()) report(outcome.failure);
    if (outcome.matched) {
        try {
            m_lines[i] = lineTag(i) + " Transfering: " + outcome.path;
        } catch (const std::exception& failure) {
            report(failureText(failure.what(), api_stage::statusLine));
        }
    }
    if (!outcome.switching) return std::move(outcome.bytes);
    element.phase = Phase::Switching;
    m_station.spawn(answerAfterSwitch(
        std::move(*outcome.switching),
        [self = m_self, i, exchange = element.exchange, bytes = std::move(outcome.bytes)](
            bool played, std::string failure) mutable {
            if (*self == nullptr) return;
            if (!failure.empty()) {
                (*self)->report(failure);
                bytes = responseWithHeader("ERROR");
            } else if (!played) {
                bytes = answerToFailedSwitch((*self)->m_station.display);
            }
            (*self)->switchEnded(i, exchange, std::move(bytes));
        }));
    return std::nullopt;
}

void ApiConnections::answerSent(int i) {
    if (!isOpen(i)) return;
    m_elements[i].phase = Phase::Draining;
    m_elements[i].deadline = now() + kDrainSeconds;
}

void ApiConnections::switchEnded(int i, std::uint64_t exchange, std::string bytes) {
    ++m_switchesRun;
    if (!isOpen(i) || m_elements[i].exchange != exchange) return;
    auto& element = m_elements[i];
    element.phase = Phase::Answered;
    element.deadline = now() + kDeadlineSeconds;
    if (m_onSwitchAnswered) m_onSwitchAnswered(i, std::move(bytes));
}

std::vector<ApiConnections::Overdue> ApiConnections::overdue() {
    journalEvictions();
    std::vector<Overdue> ended;
    const double time = now();
    for (int i = 1; i < static_cast<int>(m_elements.size()); ++i) {
        auto& element = m_elements[i];
        if (element.phase == Phase::Closed || element.phase == Phase::Switching ||
            element.deadline > time) {
            continue;
        }
        if (element.phase == Phase::Receiving && !element.pending.empty()) {
            element.pending.clear();
            // The data cannot make a request any more; it is answered as such.
            m_station.state.response = "ERROR";
            ended.push_back({i, responseWithHeader(m_station.state.response)});
        } else {
            ended.push_back({i, {}});
        }
        element.phase = Phase::Answered;
        element.deadline = time + kDeadlineSeconds;
    }
    return ended;
}

void ApiConnections::closed(int i) {
    if (!isOpen(i)) return;
    auto& element = m_elements[i];
    element.phase = Phase::Closed;
    std::string().swap(element.pending);
    --m_openCount;
    m_lines[i] = lineTag(i) + " Closed";
}

void ApiConnections::reportFailure(std::string_view description, int stage) {
    report(failureText(description, stage));
}

void ApiConnections::report(const std::string& failure) {
    m_lastFailure = failure;
    std::cerr << failure << std::endl;
    if (m_onFailure) m_onFailure(failure);
}

}  // namespace kestrel
