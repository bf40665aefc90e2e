#include "host/api_server.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "check/config_keys.h"
#include "station/station_events.h"

namespace kestrel {
namespace {

constexpr int kOverdueCheckMs = 250;
// Room for a burst of clients connecting at once before the kernel drops any.
constexpr int kListenBacklog = 1024;
// Connections accepted in one turn of the event loop at most.
constexpr int kAcceptBatch = 32;
// Descriptors kept for everything else: files, players' logs, fetches, the journal.
constexpr rlim_t kReservedDescriptors = 128;

// As many connections as the descriptor limit leaves room for: beyond it
// accept() would fail, and Qt's listener stops accepting for good.
int connectionLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return ApiConnections::kDefaultHardLimit;
    }
    if (limit.rlim_cur <= kReservedDescriptors) return 0;  // the table's own floor applies
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur - kReservedDescriptors, 1 << 20));
}

// The address named by APIBind; all addresses when it names none.
QHostAddress bindAddress(Station& station) {
    const std::string& configured = station.state.APIBind;
    QHostAddress address;
    if (configured.empty() || address.setAddress(QString::fromStdString(configured))) {
        return configured.empty() ? QHostAddress(QHostAddress::Any) : address;
    }
    recordConfigurationProblem(station,
                               "kestrelfield.ini: APIBind \"" + configured +
                                   "\" is no IP address: the API listens on all addresses");
    return QHostAddress::Any;
}

// The client's address as people write it: an IPv4 client of the listener on
// all addresses without its "::ffff:" prefix.
std::string clientAddress(const QTcpSocket& socket) {
    QHostAddress peer = socket.peerAddress();
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    if (isIpv4) peer = QHostAddress(ipv4);
    return peer.toString().toStdString();
}

}  // namespace

quint16 configuredApiPort(const Station& station) {
    return portNumber(station.state.APIPort).value_or(kDefaultApiPort);
}

ApiServer::ApiServer(Station& station, quint16 port, QObject* parent)
    : QObject(parent), m_connections(station) {
    m_connections.setHardLimit(connectionLimit());
    m_server = new QTcpServer(this);
    m_server->setListenBacklogSize(kListenBacklog);
    // The listener stops accepting once a batch waits; the batch is taken
    // from the event loop, so that a flood of connections cannot hold up
    // the answers, timers and the rest of the station.
    m_server->setMaxPendingConnections(kAcceptBatch);
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        if (m_acceptQueued) return;
        m_acceptQueued = true;
        QMetaObject::invokeMethod(this, &ApiServer::acceptPending, Qt::QueuedConnection);
    });
    m_connections.setOnSwitchAnswered([this](int i, const std::string& bytes) {
        if (i < static_cast<int>(m_sockets.size()) && m_sockets[i]) send(i, m_sockets[i], bytes);
        lineChanged(i);
        eventHandled();
    });
    m_connections.setOnFailure([this](const std::string& failure) {
        if (m_onFailure) m_onFailure(failure);
    });

    const QHostAddress address = bindAddress(station);
    if (m_server->listen(address, port)) {
        m_connections.listening();
    } else {
        recordConfigurationProblem(
            station, "the API cannot listen on " + address.toString().toStdString() + " port " +
                         std::to_string(port) + ": " + m_server->errorString().toStdString());
    }

    m_overdueTimer = new QTimer(this);
    m_overdueTimer->setInterval(kOverdueCheckMs);
    connect(m_overdueTimer, &QTimer::timeout, this, &ApiServer::endOverdue);
    m_overdueTimer->start();
}

ApiServer::~ApiServer() {
    for (QTcpSocket* socket : m_sockets) {
        if (socket) socket->disconnect(this);
    }
}

quint16 ApiServer::port() const {
    return m_server->isListening() ? m_server->serverPort() : 0;
}

void ApiServer::lineChanged(int i) {
    if (m_onLine) m_onLine(i);
}

void ApiServer::eventHandled() {
    if (m_connections.switchesRun() == m_switchesRendered) return;
    m_switchesRendered = m_connections.switchesRun();
    if (m_afterEvent) m_afterEvent();
}

void ApiServer::acceptPending() {
    m_acceptQueued = false;
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const auto admitted = m_connections.accept(clientAddress(*socket));
        if (!admitted) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (admitted->evicted) {
            dropSocket(admitted->evicted);
            lineChanged(admitted->evicted);
        }
        const int i = admitted->element;
        if (static_cast<int>(m_sockets.size()) <= i) m_sockets.resize(i + 1, nullptr);
        m_sockets[i] = socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, i, socket] { readFrom(i, socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, i, socket] { finish(i, socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, i, socket] { finish(i, socket); });
        lineChanged(i);
        takeArrivedRequest(i, socket);
    }
}

// A request that came with the connection is taken now, without waiting a
// turn of the event loop for its read notification: read from the
// descriptor (Qt's buffer is still empty) and answered at once. Accepting
// runs in bounded batches from the event loop, so this holds nothing up;
// and Qt closes a connection whose client has shut its sending side as soon
// as it reads the end, before a later answer could go out.
void ApiServer::takeArrivedRequest(int i, QTcpSocket* socket) {
    char bytes[4096];
    const ssize_t got =
        ::recv(static_cast<int>(socket->socketDescriptor()), bytes, sizeof bytes, MSG_DONTWAIT);
    if (got > 0) receive(i, socket, std::string_view(bytes, static_cast<std::size_t>(got)));
}

void ApiServer::readFrom(int i, QTcpSocket* socket) {
    if (m_sockets[i] != socket) return;
    const QByteArray data = socket->readAll();
    receive(i, socket, std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
}

void ApiServer::receive(int i, QTcpSocket* socket, std::string_view bytes) {
    const auto answer = m_connections.receive(i, bytes);
    if (answer) send(i, socket, *answer);
    lineChanged(i);
    eventHandled();
}

void ApiServer::send(int i, QTcpSocket* socket, const std::string& bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    if (size == 0 || socket->write(bytes.data(), size) != size) {
        if (size != 0)
            m_connections.reportFailure(socket->errorString().toStdString(), api_stage::send);
        finish(i, socket);
        return;
    }
    socket->flush();
    if (socket->bytesToWrite() == 0) {
        answerWritten(i, socket);
        return;
    }
    connect(socket, &QTcpSocket::bytesWritten, this, [this, i, socket] {
        if (socket->bytesToWrite() == 0) answerWritten(i, socket);
    });
}

// The answer is complete: a FIN tells the client so, while what it still
// sends is read and dropped until it closes. A close with unread data would
// send a reset instead, and a client could lose the answer with it.
void ApiServer::answerWritten(int i, QTcpSocket* socket) {
    if (i >= static_cast<int>(m_sockets.size()) || m_sockets[i] != socket) return;
    ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    m_connections.answerSent(i);
}

void ApiServer::finish(int i, QTcpSocket* socket) {
    if (i >= static_cast<int>(m_sockets.size()) || m_sockets[i] != socket) return;
    dropSocket(i);
    m_connections.closed(i);
    lineChanged(i);
}

void ApiServer::dropSocket(int i) {
    QTcpSocket* socket = i < static_cast<int>(m_sockets.size()) ? m_sockets[i] : nullptr;
    if (!socket) return;
    m_sockets[i] = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void ApiServer::endOverdue() {
    const auto overdue = m_connections.overdue();
    for (const auto& ended : overdue) {
        QTcpSocket* socket =
            ended.element < static_cast<int>(m_sockets.size()) ? m_sockets[ended.element] : nullptr;
        if (!socket) {
            m_connections.closed(ended.element);
        } else if (ended.bytes.empty()) {
            finish(ended.element, socket);
        } else {
            send(ended.element, socket, ended.bytes);
        }
        lineChanged(ended.element);
    }
}

}  // namespace kestrel
