#pragma once

#include <cstdint>
#include <vector>

#include "platform/socket_intake.h"

namespace kestrel::test {

/// A host's socket table as the simulation fills it: only connected sockets
/// are listed, each with the bytes it has received. A socket's id is made
/// from its inode, and odd inodes are IPv6, so lookups of either family run.
class FakeSocketTable final : public SocketTable {
public:
    /// Empties the table (keeping its room: refilled on every count).
    void clear() { m_sockets.clear(); }
    /// Lists the connected socket `inode`.
    void add(std::uint64_t inode, std::uint64_t bytesReceived);

    bool dump(int family, const std::vector<std::uint64_t>& inodes,
              const std::function<void(const Socket&)>& each) override;
    std::optional<Socket> lookUp(int family, const inet_diag_sockid& id) override;

private:
    struct Listed {
        int family;
        Socket socket;
    };
    std::vector<Listed> m_sockets;
};

}  // namespace kestrel::test
