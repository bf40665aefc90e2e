#include "support/fake_sockets.h"

#include <sys/socket.h>

#include <algorithm>

namespace kestrel::test {

void FakeSocketTable::add(std::uint64_t inode, std::uint64_t bytesReceived) {
    Socket socket{inode, {}, bytesReceived};
    socket.id.idiag_cookie[0] = static_cast<std::uint32_t>(inode);
    socket.id.idiag_cookie[1] = static_cast<std::uint32_t>(inode >> 32);
    m_sockets.push_back({inode % 2 ? AF_INET6 : AF_INET, socket});
}

bool FakeSocketTable::dump(int family, const std::vector<std::uint64_t>& inodes,
                           const std::function<void(const Socket&)>& each) {
    for (const Listed& listed : m_sockets) {
        if (listed.family == family &&
            std::find(inodes.begin(), inodes.end(), listed.socket.inode) != inodes.end())
            each(listed.socket);
    }
    return true;
}

std::optional<SocketTable::Socket> FakeSocketTable::lookUp(int family, const inet_diag_sockid& id) {
    for (const Listed& listed : m_sockets) {
        const auto& cookie = listed.socket.id.idiag_cookie;
        if (listed.family == family && cookie[0] == id.idiag_cookie[0] &&
            cookie[1] == id.idiag_cookie[1])
            return listed.socket;
    }
    return std::nullopt;
}

}  // namespace kestrel::test
