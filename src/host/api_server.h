#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_connections.h"
#include "station/station.h"

class QSocketNotifier;
class QTimer;

namespace kestrel {

/// The port the station's APIPort names; 1011 when absent or no port (the
/// configuration check reports that).
quint16 configuredApiPort(const Station& station);

/// The API's listener: a thin socket host over the core's connection table.
/// Listens on `port` (0 picks a free one) at the address APIBind names, hands
/// each connection's data to the request handling, sends the answers and
/// closes connections that overstay. The listener and every connection sit
/// in one epoll set, which the event loop watches as a single descriptor: a
/// turn of the loop costs the same with ten connections open or thousands
/// (Qt's own sockets are polled one by one on every turn). Needs no window;
/// a window may watch it.
class ApiServer : public QObject {
    Q_OBJECT
public:
    ApiServer(Station& station, quint16 port, QObject* parent = nullptr);
    ~ApiServer() override;

    /// The port listened on; 0 when the listener could not start.
    quint16 port() const { return m_port; }
    const ApiConnections& connections() const { return m_connections; }

    /// Runs after a request has changed the station (a switch), so that a
    /// window can re-render. Reading requests change nothing it shows.
    void setAfterEvent(std::function<void()> afterEvent) { m_afterEvent = std::move(afterEvent); }
    /// Runs with element i whenever its status line may have changed.
    void setOnLine(std::function<void(int i)> onLine) { m_onLine = std::move(onLine); }
    /// Runs with each failure text as it happens.
    void setOnFailure(std::function<void(const std::string&)> onFailure) {
        m_onFailure = std::move(onFailure);
    }

private:
    struct Connection {
        int fd = -1;
        std::uint32_t generation = 0;  ///< tells this connection's events from an earlier one's
        std::string unsent;            ///< the rest of the answer, written as the socket takes it
        bool answered = false;         ///< its answer has been handed over
        bool clientDone = false;       ///< the client has shut its sending side
    };

    bool listen(const std::string& address, quint16 port);
    void handleEvents();
    void acceptBatch();
    void readFrom(int i);
    void clientFinished(int i);
    void send(int i, std::string bytes);
    void writeTo(int i);
    void watch(int i, bool forWriting);
    void close(int i);
    void drop(int i);
    void endOverdue();
    void lineChanged(int i);
    void eventHandled();

    ApiConnections m_connections;
    int m_listener = -1;
    int m_epoll = -1;
    quint16 m_port = 0;
    bool m_acceptPaused = false;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_overdueTimer = nullptr;
    std::vector<Connection> m_sockets;  // index i: the connection on element i
    int m_switchesRendered = 0;
    std::function<void()> m_afterEvent;
    std::function<void(int)> m_onLine;
    std::function<void(const std::string&)> m_onFailure;
};

}  // namespace kestrel
