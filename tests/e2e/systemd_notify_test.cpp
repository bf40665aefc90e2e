#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/process_cleanup.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SystemdNotify, ReadyStatusAndWatchdogPingsReachTheServiceManager) {
    test::TempDir station;
    station.write("sourcelist.ini", "9n:Nine\r\n9u:" + test::unreachableUrl("/live") + "\r\n");
    // Player programs of the station's own that play at once and wait on a FIFO.
    ASSERT_EQ(::mkfifo((station.path() / "hold").c_str(), 0600), 0);
    for (const char* slot : {"mplayer1", "mplayer2"}) {
        station.write(slot,
                      "#!/bin/bash\necho 'Starting playback...'\nexec 3<>hold\nread -u 3 x\n");
        std::filesystem::permissions(station.path() / slot, std::filesystem::perms::owner_all);
    }
    // The service manager's end: a datagram socket named in NOTIFY_SOCKET.
    const auto path = station.path() / "notify";
    const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(manager, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval timeout{0, 200000};
    ::setsockopt(manager, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    std::vector<std::pair<std::string, Clock::time_point>> messages;
    {
        test::ChildProcess kestrelfield({KESTREL_BINARY_DIR "/kestrelfield"}, station.path(),
                                        station.path() / "station.log",
                                        {"QT_QPA_PLATFORM=offscreen",
                                         "NOTIFY_SOCKET=" + path.string(), "WATCHDOG_USEC=600000"});
        // Source 9 is on air once the start-up switch's two seconds have passed.
        char buffer[4096];
        int pingsSinceNamed = 0;
        for (const auto end = Clock::now() + std::chrono::seconds(12);
             Clock::now() < end && pingsSinceNamed < 10;) {
            const auto n = ::recv(manager, buffer, sizeof buffer, 0);
            if (n <= 0) continue;
            messages.emplace_back(std::string(buffer, std::size_t(n)), Clock::now());
            if (messages.back().first == "STATUS=On air: source 9 Nine") pingsSinceNamed = 1;
            if (pingsSinceNamed > 0 && messages.back().first == "WATCHDOG=1") ++pingsSinceNamed;
        }
    }
    ::close(manager);
    test::killPlayersIn(station.path());

    ASSERT_FALSE(messages.empty()) << station.read("station.log");
    EXPECT_EQ(messages.front().first, "READY=1\nSTATUS=On air: nothing");
    std::vector<Clock::time_point> pings;
    bool named = false;
    for (const auto& [message, at] : messages) {
        if (message == "WATCHDOG=1") pings.push_back(at);
        named = named || message == "STATUS=On air: source 9 Nine";
    }
    EXPECT_TRUE(named) << "a status line names the source on air";
    // Every 300 ms, half of WATCHDOG_USEC, also while the start-up switch overlaps.
    ASSERT_GE(pings.size(), 10u);
    const auto span = std::chrono::duration<double>(pings.back() - pings.front()).count();
    EXPECT_LT(span / static_cast<double>(pings.size() - 1), 0.4);
}

}  // namespace
}  // namespace kestrel
