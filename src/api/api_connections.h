#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_request.h"
#include "api/control_room.h"
#include "station/station.h"

namespace kestrel {

/// The API server's socket array without the sockets. Element 0 is the
/// listener; elements 1, 2, ... carry one exchange each and are reused once
/// closed. Keeps what each connection has sent until it makes a request,
/// answers it, and keeps the status line of every element. The host owns the
/// sockets and reports their events here; all calls come from the one thread.
///
/// Admission: a new connection while its address holds kMaxPerAddress, or
/// while kMaxOpen are open, closes the connection that has been idle longest
/// (sent nothing since it was accepted, kGraceSeconds or more ago), one of
/// its own address first, so that idle connections never lock out a client
/// that asks. A connection that has sent data, or is younger than that, is
/// never closed for a bound: a real client sends its request within
/// milliseconds. When only such connections hold the bounds the new one is
/// admitted all the same, up to the hard limit (sized by the host to its
/// descriptors); at the hard limit the oldest idle connection goes, however
/// young, and the new one is refused only when none is idle.
class ApiConnections {
public:
    static constexpr int kMaxOpen = 256;
    static constexpr int kMaxPerAddress = 16;
    static constexpr double kGraceSeconds = 2.0;
    /// The hard limit until the host sets one.
    static constexpr int kDefaultHardLimit = 1024;
    /// Evictions are journaled in one line per this many seconds at most.
    static constexpr double kEvictionJournalSeconds = 60.0;
    /// Data kept per connection while it does not yet make a request.
    static constexpr std::size_t kMaxPending = 8 * 1024;
    /// A connection that has made no request by then is ended.
    static constexpr double kDeadlineSeconds = 10.0;
    /// After its answer has gone out, a connection is kept this long, and
    /// for this much more data, so that what the client still sends is read
    /// and the close is a FIN, never a reset that could cost it the answer.
    static constexpr double kDrainSeconds = 5.0;
    static constexpr std::size_t kMaxDrained = 32 * 1024;

    /// Empties `TransferString` and `response`, as the window does when it loads.
    explicit ApiConnections(Station& station, FileReader readFile = readWholeFile);
    ~ApiConnections();
    ApiConnections(const ApiConnections&) = delete;
    ApiConnections& operator=(const ApiConnections&) = delete;

    /// The listener has started: line 0 reads "00 Listening".
    void listening();

    /// The most connections open at once (at least kMaxOpen).
    void setHardLimit(int limit) { m_hardLimit = limit < kMaxOpen ? kMaxOpen : limit; }
    int hardLimit() const { return m_hardLimit; }
    struct Admission {
        int element = 0;
        /// An element closed to make room (0: none). The host drops its
        /// socket without reporting it closed: the element may be the new one.
        int evicted = 0;
    };
    /// Element for a new connection from `client` (its address): the first
    /// closed one, else a new one with its own status line; beyond a bound
    /// after an eviction (see the class). nullopt when no connection can make
    /// room (all of them have sent a request); the host then closes the new
    /// connection at once.
    std::optional<Admission> accept(std::string client = {});

    /// Data arrived on element i. Returns the bytes to send when the element
    /// is answered now (a request, or "ERROR" for data that can no longer
    /// make one); the host sends them, then `answerSent`. nullopt while the
    /// request is incomplete, for data after the answer (read and dropped),
    /// and for a switch request, whose answer goes to `setOnSwitchAnswered`'s
    /// callback once its switch has ended. Other connections are served
    /// meanwhile. An empty string: close the element now (more than
    /// kMaxDrained after the request).
    std::optional<std::string> receive(int i, std::string_view data);

    /// Every byte of element i's answer is written and its sending side shut
    /// (FIN); it is read on until the client closes, for kDrainSeconds at most.
    void answerSent(int i);

    /// Receives the answer of a switch request when its switch has ended, if
    /// the element is still open; the host sends it and closes the element.
    void setOnSwitchAnswered(std::function<void(int i, std::string bytes)> onAnswered) {
        m_onSwitchAnswered = std::move(onAnswered);
    }

    struct Overdue {
        int element = 0;
        std::string bytes;  ///< to send before closing; empty: close at once
    };
    /// Open elements past their deadline, now ended: an "ERROR" answer for one
    /// that sent data but no request, nothing for an idle one or one whose
    /// answer has not gone out. The host closes each.
    std::vector<Overdue> overdue();

    /// Element i has been closed (send complete, peer closed, or ended).
    void closed(int i);

    /// A failure of the host's own step (receiving, sending): shown and
    /// written to stderr like a failure of the request handling. The host
    /// closes the connection it happened on.
    void reportFailure(std::string_view description, int stage);

    /// Status line texts; index i belongs to element i.
    const std::vector<std::string>& lines() const { return m_lines; }
    /// The latest failure text, empty while none has happened.
    const std::string& lastFailure() const { return m_lastFailure; }
    /// Called with each failure text as it happens (the window shows it).
    void setOnFailure(std::function<void(const std::string&)> onFailure) {
        m_onFailure = std::move(onFailure);
    }

    int openCount() const { return m_openCount; }
    /// The control room's requests, beside the API's.
    ControlRoom& controlRoom() { return m_controlRoom; }
    /// How many switch requests have ended; the host re-renders the station when it grows.
    int switchesRun() const { return m_switchesRun; }
    bool isOpen(int i) const;
    /// Whether element i waits for its switch to end before it is answered.
    bool awaitsSwitch(int i) const;

    /// The last two characters of "00" followed by i: 1 gives "01", 123 gives "23".
    static std::string lineTag(int i);

private:
    // Switching: the request waits for its switch; no deadline ends it.
    // Draining: the answer has gone out; what the client still sends is dropped.
    enum class Phase { Closed, Receiving, Switching, Answered, Draining };
    struct Element {
        Phase phase = Phase::Closed;
        std::string pending;
        std::string client;
        double deadline = 0;
        double acceptedAt = 0;
        std::size_t drained = 0;     ///< bytes received after the request
        std::uint64_t exchange = 0;  ///< tells this connection from a later one on the element
    };

    std::optional<std::string> answer(int i, std::string_view text);
    int openFrom(const std::string& client) const;
    int oldestIdle(const std::string* client, double acceptedBefore) const;
    void evict(int i, ApiEviction reason);
    void journalEvictions();
    void switchEnded(int i, std::uint64_t exchange, std::string bytes);
    void report(const std::string& failure);
    double now() const;

    Station& m_station;
    FileReader m_readFile;
    ControlRoom m_controlRoom;
    std::vector<Element> m_elements;  // index 0: the listener
    std::vector<std::string> m_lines;
    std::string m_lastFailure;
    std::function<void(const std::string&)> m_onFailure;
    std::function<void(int, std::string)> m_onSwitchAnswered;
    // Lets a switch that ends after this table has gone find nothing to answer.
    std::shared_ptr<ApiConnections*> m_self;
    std::uint64_t m_exchanges = 0;
    // Evictions not yet journaled, by ApiEviction, and when the last line went out.
    std::uint64_t m_unjournaled[2] = {};
    std::string m_lastEvicted;
    double m_evictionsJournaled = -kEvictionJournalSeconds;
    int m_openCount = 0;
    int m_hardLimit = kDefaultHardLimit;
    int m_switchesRun = 0;
};

}  // namespace kestrel
