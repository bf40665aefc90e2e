#include "platform/socket_intake.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

// Closes the netlink socket however the query ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The kernel's TCP states of a connected socket (include/net/tcp_states.h).
constexpr unsigned kTcpEstablished = 1;
constexpr unsigned kTcpCloseWait = 8;

// tcpi_bytes_received of the INET_DIAG_INFO attribute, when it holds that field.
std::optional<std::uint64_t> bytesReceivedOf(const inet_diag_msg& message, std::size_t length) {
    std::size_t offset = NLMSG_ALIGN(sizeof message);
    while (offset + sizeof(rtattr) <= length) {
        const auto* attribute =
            reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(&message) + offset);
        if (attribute->rta_len < sizeof(rtattr) || offset + attribute->rta_len > length) break;
        const std::size_t payload = attribute->rta_len - RTA_LENGTH(0);
        constexpr std::size_t kNeeded =
            offsetof(tcp_info, tcpi_bytes_received) + sizeof(tcp_info::tcpi_bytes_received);
        if (attribute->rta_type == INET_DIAG_INFO && payload >= kNeeded) {
            tcp_info info{};
            std::memcpy(&info, RTA_DATA(attribute), std::min(payload, sizeof info));
            return info.tcpi_bytes_received;
        }
        offset += RTA_ALIGN(attribute->rta_len);
    }
    return std::nullopt;
}

// Sends one socket diagnostics request of `family`: a dump of the connected
// TCP sockets, or the one socket `id` names.
bool ask(int netlink, int family, const inet_diag_sockid* id) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST | (id ? 0 : NLM_F_DUMP);
    query.request.sdiag_family = static_cast<std::uint8_t>(family);
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = (1U << kTcpEstablished) | (1U << kTcpCloseWait);
    query.request.idiag_ext = 1U << (INET_DIAG_INFO - 1);
    if (id) query.request.id = *id;
    return ::send(netlink, &query, sizeof query, 0) == static_cast<ssize_t>(sizeof query);
}

// Reads the answers to the last request, handing each socket's message to
// `each`; false on a failure or an error answer.
template <typename Each>
bool readAnswers(int netlink, bool dump, Each each) {
    alignas(nlmsghdr) std::array<char, 32 * 1024> buffer;
    for (;;) {
        const ssize_t got = ::recv(netlink, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        auto remaining = static_cast<int>(got);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE) return true;
            if (header->nlmsg_type == NLMSG_ERROR) return false;
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
            if (header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) continue;
            each(*static_cast<const inet_diag_msg*>(NLMSG_DATA(header)),
                 header->nlmsg_len - NLMSG_LENGTH(0));
            if (!dump) return true;
        }
    }
}

bool contains(const std::vector<std::uint64_t>& inodes, std::uint64_t inode) {
    return std::find(inodes.begin(), inodes.end(), inode) != inodes.end();
}

// The kernel's socket table, asked over one netlink socket.
class NetlinkSocketTable final : public SocketTable {
public:
    NetlinkSocketTable()
        : m_netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    bool opened() const { return m_netlink.get() >= 0; }

    bool dump(int family, const std::vector<std::uint64_t>& inodes,
              const std::function<void(const Socket&)>& each) override {
        if (!ask(m_netlink.get(), family, nullptr)) return false;
        return readAnswers(m_netlink.get(), true,
                           [&](const inet_diag_msg& message, std::size_t length) {
                               if (!contains(inodes, message.idiag_inode)) return;
                               each({message.idiag_inode, message.id,
                                     bytesReceivedOf(message, length).value_or(0)});
                           });
    }

    std::optional<Socket> lookUp(int family, const inet_diag_sockid& id) override {
        std::optional<Socket> found;
        if (!ask(m_netlink.get(), family, &id) ||
            !readAnswers(m_netlink.get(), false,
                         [&](const inet_diag_msg& message, std::size_t length) {
                             found = Socket{message.idiag_inode, message.id,
                                            bytesReceivedOf(message, length).value_or(0)};
                         })) {
            return std::nullopt;
        }
        return found;
    }

private:
    Descriptor m_netlink;
};

// Adds the bytes received by the TCP sockets of `family` among `inodes`, and
// notes where each was found; only connected sockets can be a stream's.
bool dumpFamily(SocketTable& table, int family, const std::vector<std::uint64_t>& inodes,
                KnownSockets* known, std::uint64_t& sum) {
    return table.dump(family, inodes, [&](const SocketTable::Socket& socket) {
        sum += socket.bytesReceived;
        if (known) known->found[socket.inode] = {family, socket.id};
    });
}

// The sum from one lookup per socket already found; nullopt when one of them
// is gone or no longer connected, which takes a dump again.
std::optional<std::uint64_t> lookUpKnown(SocketTable& table,
                                         const std::vector<std::uint64_t>& inodes,
                                         const KnownSockets& known,
                                         std::chrono::steady_clock::time_point now) {
    std::uint64_t sum = 0;
    for (const std::uint64_t inode : inodes) {
        if (const auto unfound = known.notTcp.find(inode); unfound != known.notTcp.end()) {
            if (now >= unfound->second.lookAgainAt) return std::nullopt;
            continue;
        }
        const auto where = known.found.find(inode);
        if (where == known.found.end()) return std::nullopt;
        const auto socket = table.lookUp(where->second.family, where->second.id);
        if (!socket || socket->inode != inode) return std::nullopt;
        sum += socket->bytesReceived;
    }
    return sum;
}

}  // namespace

std::vector<std::uint64_t> socketInodes(pid_t pid, const std::filesystem::path& procRoot) {
    std::vector<std::uint64_t> inodes;
    std::error_code error;
    const auto fds = procRoot / std::to_string(pid) / "fd";
    // A process may end mid-walk: every step reports through the error code,
    // as a range-for's increment would throw.
    for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(it->path(), linkError).string();
        constexpr std::string_view kSocket = "socket:[";
        if (linkError || !target.starts_with(kSocket) || !target.ends_with(']')) continue;
        std::uint64_t inode = 0;
        const char* first = target.data() + kSocket.size();
        const char* last = target.data() + target.size() - 1;
        if (std::from_chars(first, last, inode).ptr == last) inodes.push_back(inode);
    }
    return inodes;
}

std::optional<std::uint64_t> tcpBytesReceived(const std::vector<std::uint64_t>& held,
                                              KnownSockets* known,
                                              std::chrono::steady_clock::time_point now) {
    if (held.empty()) return 0;
    NetlinkSocketTable table;
    if (!table.opened()) return std::nullopt;
    return tcpBytesReceived(held, known, now, table);
}

std::optional<std::uint64_t> tcpBytesReceived(const std::vector<std::uint64_t>& held,
                                              KnownSockets* known,
                                              std::chrono::steady_clock::time_point now,
                                              SocketTable& table) {
    // A socket that several processes hold (a player and its forked cache)
    // received its bytes once.
    std::vector<std::uint64_t> inodes = held;
    std::sort(inodes.begin(), inodes.end());
    inodes.erase(std::unique(inodes.begin(), inodes.end()), inodes.end());
    std::uint64_t sum = 0;
    if (inodes.empty()) return sum;
    std::map<std::uint64_t, KnownSockets::Unfound> unfoundBefore;
    if (known) {
        if (const auto fromKnown = lookUpKnown(table, inodes, *known, now)) return fromKnown;
        unfoundBefore = std::move(known->notTcp);
        *known = {};
    }
    if (!dumpFamily(table, AF_INET, inodes, known, sum) ||
        !dumpFamily(table, AF_INET6, inodes, known, sum)) {
        return std::nullopt;
    }
    if (known) {
        for (const std::uint64_t inode : inodes) {
            if (known->found.contains(inode)) continue;
            // Looked for again later, less often each time it is still not found.
            KnownSockets::Unfound unfound;
            if (const auto before = unfoundBefore.find(inode); before != unfoundBefore.end())
                unfound.interval = std::min(before->second.interval * 2, std::chrono::seconds(64));
            unfound.lookAgainAt = now + unfound.interval;
            known->notTcp[inode] = unfound;
        }
    }
    return sum;
}

}  // namespace kestrel
