#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_connections.h"
#include "station/station.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace kestrel {

/// The port the station's APIPort names; 1011 when absent or no port (the
/// configuration check reports that).
quint16 configuredApiPort(const Station& station);

/// The API's listener: a thin socket host over the core's connection table.
/// Listens on `port` (0 picks a free one) at the address APIBind names, hands
/// each connection's data to the request handling, sends the answers and
/// closes connections that overstay. Needs no window; a window may watch it.
class ApiServer : public QObject {
    Q_OBJECT
public:
    ApiServer(Station& station, quint16 port, QObject* parent = nullptr);
    ~ApiServer() override;

    /// The port listened on; 0 when the listener could not start.
    quint16 port() const;
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
    void acceptPending();
    void takeArrivedRequest(int i, QTcpSocket* socket);
    void readFrom(int i, QTcpSocket* socket);
    void receive(int i, QTcpSocket* socket, std::string_view bytes);
    void send(int i, QTcpSocket* socket, const std::string& bytes);
    void answerWritten(int i, QTcpSocket* socket);
    void finish(int i, QTcpSocket* socket);
    void dropSocket(int i);
    void endOverdue();
    void lineChanged(int i);
    void eventHandled();

    ApiConnections m_connections;
    QTcpServer* m_server = nullptr;
    QTimer* m_overdueTimer = nullptr;
    std::vector<QTcpSocket*> m_sockets;  // index i: the connection on element i, if open
    int m_switchesRendered = 0;
    bool m_acceptQueued = false;
    std::function<void()> m_afterEvent;
    std::function<void(int)> m_onLine;
    std::function<void(const std::string&)> m_onFailure;
};

}  // namespace kestrel
