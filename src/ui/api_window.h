#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "api/api_connections.h"
#include "station/station.h"

class QLabel;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace kestrel {

/// The "Kestrelfield API Server" window: listens on `port` (1011 on a
/// station; 0 picks a free one), hands each connection's data to the core's
/// request handling and shows one status line per connection. Its creator
/// shows it. Closing it only hides it; the server keeps answering.
class ApiWindow : public QWidget {
    Q_OBJECT
public:
    ApiWindow(Station& station, quint16 port, QWidget* parent = nullptr);
    ~ApiWindow() override;

    /// Runs after a request has changed the station (a switch): the main
    /// window re-renders. Reading requests change nothing it shows.
    void setAfterEvent(std::function<void()> afterEvent);

    /// The port listened on; 0 when the listener could not start.
    quint16 port() const;
    /// The connection table behind the window.
    const ApiConnections& connections() const { return m_connections; }
    /// Status line i (`lblFileProgress(i)`); nullptr when it does not exist yet.
    const QLabel* line(int i) const;
    /// Where failures while handling requests are shown.
    const QLabel* failureLine() const { return m_failureLine; }

private:
    void acceptPending();
    void readFrom(int i, QTcpSocket* socket);
    void send(int i, QTcpSocket* socket, const std::string& bytes);
    void finish(int i, QTcpSocket* socket);
    void endOverdue();
    void showLine(int i);
    void eventHandled();

    ApiConnections m_connections;
    QTcpServer* m_server = nullptr;
    QWidget* m_lineArea = nullptr;
    QLabel* m_failureLine = nullptr;
    QTimer* m_overdueTimer = nullptr;
    std::vector<QLabel*> m_lines;        // index i: the line of element i
    std::vector<QTcpSocket*> m_sockets;  // index i: the connection on element i, if open
    int m_lineHeight = 0;
    int m_switchesRendered = 0;
    std::function<void()> m_afterEvent;
};

}  // namespace kestrel
