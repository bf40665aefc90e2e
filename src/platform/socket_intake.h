#pragma once

#include <linux/inet_diag.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace kestrel {

/// The inodes of the sockets a process holds open (its /proc/PID/fd links
/// "socket:[N]"); empty when it holds none or its descriptors cannot be read.
std::vector<std::uint64_t> socketInodes(pid_t pid, const std::filesystem::path& procRoot = "/proc");

/// Where earlier counts found the sockets: a dump of every TCP socket of the
/// host costs the kernel a walk of its whole table, a lookup of one known
/// socket next to nothing.
struct KnownSockets {
    struct Place {
        int family = 0;
        inet_diag_sockid id{};
    };
    /// An inode no dump found: not TCP, or a TCP socket not yet connected
    /// (a player between socket() and connect()). It is looked for again
    /// after 1, 2, 4 ... 64 s, so a stream socket is counted once connected.
    struct Unfound {
        std::chrono::steady_clock::time_point lookAgainAt;
        std::chrono::seconds interval{1};
    };
    std::map<std::uint64_t, Place> found;  ///< connected TCP sockets, by inode
    std::map<std::uint64_t, Unfound> notTcp;
};

/// The host's connected TCP sockets, as the kernel's socket diagnostics show
/// them: the two questions the intake count asks.
class SocketTable {
public:
    struct Socket {
        std::uint64_t inode = 0;
        inet_diag_sockid id{};
        std::uint64_t bytesReceived = 0;  ///< tcp_info's tcpi_bytes_received
    };
    virtual ~SocketTable() = default;
    /// Hands each connected TCP socket of `family` (AF_INET or AF_INET6)
    /// whose inode is among `inodes` to `each`; false when the table cannot
    /// be read.
    virtual bool dump(int family, const std::vector<std::uint64_t>& inodes,
                      const std::function<void(const Socket&)>& each) = 0;
    /// The connected TCP socket of `family` at `id`; nullopt when none is
    /// there any longer (or the table cannot be read).
    virtual std::optional<Socket> lookUp(int family, const inet_diag_sockid& id) = 0;
};

/// The bytes received so far by those of `inodes` that are TCP sockets (IPv4
/// or IPv6; an inode listed twice counts once), from the kernel's socket
/// diagnostics (tcp_info's
/// tcpi_bytes_received). Players read their streams with recv(), which the
/// `rchar` count of /proc/PID/io does not see. With `known`, sockets found
/// before are looked up one by one, and a dump runs only when one is new or
/// gone, or when an unfound one is due to be looked for again (at `now`).
/// nullopt when the kernel cannot be asked.
std::optional<std::uint64_t> tcpBytesReceived(
    const std::vector<std::uint64_t>& inodes, KnownSockets* known = nullptr,
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

/// The same, asking `table` instead of the kernel.
std::optional<std::uint64_t> tcpBytesReceived(const std::vector<std::uint64_t>& inodes,
                                              KnownSockets* known,
                                              std::chrono::steady_clock::time_point now,
                                              SocketTable& table);

}  // namespace kestrel
