#include "host/api_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "check/config_keys.h"
#include "station/station_events.h"

namespace kestrel {
namespace {

constexpr int kOverdueCheckMs = 250;
// Room for a burst of clients connecting at once before the kernel drops any.
constexpr int kListenBacklog = 1024;
// Work done in one turn of the event loop at most, so that a flood cannot
// hold up the answers, timers and the rest of the station: connections
// accepted, socket events handled, bytes read from one connection.
constexpr int kAcceptBatch = 32;
constexpr int kEventBatch = 64;
constexpr std::size_t kReadPerTurn = 64 * 1024;
// Descriptors kept for everything else: files, players' logs, fetches, the journal.
constexpr rlim_t kReservedDescriptors = 128;

// As many connections as the descriptor limit leaves room for: beyond it
// accept() would fail with every connection still waiting.
int connectionLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return ApiConnections::kDefaultHardLimit;
    }
    if (limit.rlim_cur <= kReservedDescriptors) return 0;  // the table's own floor applies
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur - kReservedDescriptors, 1 << 20));
}

// The address named by APIBind; all addresses (empty) when it names none.
std::string bindAddress(Station& station) {
    const std::string& configured = station.state.APIBind;
    if (configured.empty() || !QHostAddress(QString::fromStdString(configured)).isNull()) {
        return configured;
    }
    recordConfigurationProblem(station,
                               "kestrelfield.ini: APIBind \"" + configured +
                                   "\" is no IP address: the API listens on all addresses");
    return {};
}

// A socket address for `address` (empty: every IPv6 and IPv4 address).
socklen_t socketAddress(const std::string& address, quint16 port, sockaddr_storage& into) {
    into = {};
    const QHostAddress parsed(QString::fromStdString(address));
    if (!address.empty() && parsed.protocol() == QAbstractSocket::IPv4Protocol) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(into);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(parsed.toIPv4Address());
        return sizeof v4;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(into);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    if (!address.empty()) {
        const Q_IPV6ADDR bytes = parsed.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, sizeof bytes);
    }
    return sizeof v6;
}

// The client's address as people write it: an IPv4 client of the listener
// on all addresses without its "::ffff:" prefix.
std::string clientAddress(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text,
                    sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&address)) {
            ::inet_ntop(AF_INET, address.s6_addr + 12, text, sizeof text);
        } else {
            ::inet_ntop(AF_INET6, &address, text, sizeof text);
        }
    }
    return text;
}

std::uint64_t eventData(int i, std::uint32_t generation) {
    return static_cast<std::uint64_t>(generation) << 32 | static_cast<std::uint32_t>(i);
}

}  // namespace

quint16 configuredApiPort(const Station& station) {
    return portNumber(station.state.APIPort).value_or(kDefaultApiPort);
}

ApiServer::ApiServer(Station& station, quint16 port, QObject* parent)
    : QObject(parent), m_connections(station) {
    m_connections.setHardLimit(connectionLimit());
    m_connections.setOnSwitchAnswered([this](int i, std::string bytes) {
        if (i < static_cast<int>(m_sockets.size()) && m_sockets[i].fd >= 0)
            send(i, std::move(bytes));
        lineChanged(i);
        eventHandled();
    });
    m_connections.setOnFailure([this](const std::string& failure) {
        if (m_onFailure) m_onFailure(failure);
    });

    const std::string address = bindAddress(station);
    if (listen(address, port)) {
        m_connections.listening();
    } else {
        const std::string why = std::strerror(errno);
        recordConfigurationProblem(station, "the API cannot listen on " +
                                                (address.empty() ? "all addresses" : address) +
                                                " port " + std::to_string(port) + ": " + why);
    }

    m_overdueTimer = new QTimer(this);
    m_overdueTimer->setInterval(kOverdueCheckMs);
    connect(m_overdueTimer, &QTimer::timeout, this, &ApiServer::endOverdue);
    m_overdueTimer->start();
}

ApiServer::~ApiServer() {
    if (m_notifier) m_notifier->setEnabled(false);
    for (const Connection& connection : m_sockets) {
        if (connection.fd >= 0) ::close(connection.fd);
    }
    if (m_listener >= 0) ::close(m_listener);
    if (m_epoll >= 0) ::close(m_epoll);
}

// Opens the listener and the epoll set; false with errno set when it cannot.
bool ApiServer::listen(const std::string& address, quint16 port) {
    sockaddr_storage local{};
    socklen_t length = socketAddress(address, port, local);
    int fd = ::socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && address.empty()) {  // no IPv6 on this machine: every IPv4 address
        local = {};
        auto& v4 = reinterpret_cast<sockaddr_in&>(local);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        length = sizeof v4;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) return false;
    const int yes = 1, no = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (local.ss_family == AF_INET6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, address.empty() ? &no : &yes, sizeof yes);
    }
    epoll_event listening{EPOLLIN, {.u64 = 0}};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0 ||
        ::listen(fd, kListenBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        (m_epoll = ::epoll_create1(EPOLL_CLOEXEC)) < 0 ||
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &listening) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_listener = fd;
    m_port = ntohs(local.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(local).sin_port
                                              : reinterpret_cast<sockaddr_in6&>(local).sin6_port);
    m_sockets.resize(1);  // element 0 is the listener
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ApiServer::handleEvents);
    return true;
}

void ApiServer::lineChanged(int i) {
    if (m_onLine) m_onLine(i);
}

void ApiServer::eventHandled() {
    if (m_connections.switchesRun() == m_switchesRendered) return;
    m_switchesRendered = m_connections.switchesRun();
    if (m_afterEvent) m_afterEvent();
}

// One batch of what the epoll set reports; more comes on the loop's next turn.
void ApiServer::handleEvents() {
    epoll_event events[kEventBatch];
    const int count = ::epoll_wait(m_epoll, events, kEventBatch, 0);
    for (int n = 0; n < count; ++n) {
        const auto i = static_cast<int>(events[n].data.u64 & 0xffffffffu);
        if (i == 0) {
            acceptBatch();
            continue;
        }
        const auto generation = static_cast<std::uint32_t>(events[n].data.u64 >> 32);
        // An element closed, or closed and used again, earlier in this batch.
        if (m_sockets[i].fd < 0 || m_sockets[i].generation != generation) continue;
        if (events[n].events & EPOLLERR) {
            close(i);
        } else if (events[n].events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP)) {
            readFrom(i);
        }
        if (m_sockets[i].fd >= 0 && m_sockets[i].generation == generation &&
            (events[n].events & EPOLLOUT)) {
            writeTo(i);
        }
    }
    eventHandled();
}

void ApiServer::acceptBatch() {
    for (int n = 0; n < kAcceptBatch; ++n) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return;
            // Out of descriptors (or worse): accepting rests for a moment, never for good.
            epoll_event none{0, {.u64 = 0}};
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &none);
            m_acceptPaused = true;
            return;
        }
        const auto admitted = m_connections.accept(clientAddress(peer));
        if (!admitted) {
            ::close(fd);
            continue;
        }
        if (admitted->evicted) {
            drop(admitted->evicted);
            lineChanged(admitted->evicted);
        }
        const int i = admitted->element;
        if (static_cast<int>(m_sockets.size()) <= i) m_sockets.resize(i + 1);
        Connection& connection = m_sockets[i];
        connection = {fd, connection.generation + 1, {}, false, false};
        epoll_event reading{EPOLLIN | EPOLLRDHUP, {.u64 = eventData(i, connection.generation)}};
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &reading);
        lineChanged(i);
        // A request that came with the connection is answered at once.
        readFrom(i);
    }
}

void ApiServer::readFrom(int i) {
    const std::uint32_t generation = m_sockets[i].generation;
    char bytes[16 * 1024];
    for (std::size_t taken = 0; taken < kReadPerTurn;) {
        const ssize_t got = ::recv(m_sockets[i].fd, bytes, sizeof bytes, 0);
        if (got == 0) {
            clientFinished(i);
            return;
        }
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) close(i);  // reset by the client
            return;
        }
        taken += static_cast<std::size_t>(got);
        if (auto answer = m_connections.receive(i, {bytes, static_cast<std::size_t>(got)})) {
            send(i, std::move(*answer));
            lineChanged(i);
        }
        if (m_sockets[i].fd < 0 || m_sockets[i].generation != generation) return;
    }
}

// The client has shut its sending side. An answer still to come (a switch)
// or still being written goes out first; otherwise the connection ends.
void ApiServer::clientFinished(int i) {
    Connection& connection = m_sockets[i];
    connection.clientDone = true;
    const bool answerToCome = !connection.answered && m_connections.awaitsSwitch(i);
    if (answerToCome || !connection.unsent.empty()) {
        watch(i, !connection.unsent.empty());  // the end stays readable: stop watching for it
        return;
    }
    close(i);
}

// Sends `bytes` as the whole answer; empty bytes end the connection at once.
void ApiServer::send(int i, std::string bytes) {
    if (bytes.empty()) {
        close(i);
        return;
    }
    m_sockets[i].answered = true;
    m_sockets[i].unsent = std::move(bytes);
    writeTo(i);
}

// Writes what the socket takes. Once the answer is out its sending side is
// shut: the FIN tells the client the answer is complete, while what it
// still sends is read and dropped until it closes. A close with unread
// data would send a reset instead, and the client could lose the answer.
void ApiServer::writeTo(int i) {
    Connection& connection = m_sockets[i];
    while (!connection.unsent.empty()) {
        const ssize_t sent =
            ::send(connection.fd, connection.unsent.data(), connection.unsent.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(i, true);
            return;
        }
        if (sent < 0) {
            close(i);  // the client has gone
            return;
        }
        connection.unsent.erase(0, static_cast<std::size_t>(sent));
    }
    std::string().swap(connection.unsent);
    ::shutdown(connection.fd, SHUT_WR);
    m_connections.answerSent(i);
    if (connection.clientDone) {
        close(i);
    } else {
        watch(i, false);
    }
}

void ApiServer::watch(int i, bool forWriting) {
    const Connection& connection = m_sockets[i];
    std::uint32_t events = forWriting ? std::uint32_t{EPOLLOUT} : 0;
    if (!connection.clientDone) events |= EPOLLIN | EPOLLRDHUP;
    epoll_event watched{events, {.u64 = eventData(i, connection.generation)}};
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, connection.fd, &watched);
}

void ApiServer::close(int i) {
    if (m_sockets[i].fd < 0) return;
    drop(i);
    m_connections.closed(i);
    lineChanged(i);
}

// Closes element i's socket; the table has closed the element already, or does next.
void ApiServer::drop(int i) {
    Connection& connection = m_sockets[i];
    if (connection.fd < 0) return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
    ::close(connection.fd);
    connection.fd = -1;
    std::string().swap(connection.unsent);
}

void ApiServer::endOverdue() {
    if (m_acceptPaused) {
        epoll_event listening{EPOLLIN, {.u64 = 0}};
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &listening);
        m_acceptPaused = false;
    }
    for (auto& ended : m_connections.overdue()) {
        const int i = ended.element;
        if (i >= static_cast<int>(m_sockets.size()) || m_sockets[i].fd < 0) {
            m_connections.closed(i);
        } else {
            send(i, std::move(ended.bytes));
        }
        lineChanged(i);
    }
}

}  // namespace kestrel
