#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <future>
#include <sstream>
#include <thread>

#include "controller/station_controller.h"
#include "host/api_server.h"
#include "support/fake_clock.h"
#include "support/fake_event_loop.h"
#include "support/fake_fetcher.h"
#include "support/fake_players.h"
#include "support/qt_loop.h"
#include "support/temp_dir.h"
#include "ui/api_window.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::ensureApplication;
using test::pumpFor;
using test::pumpUntil;

const std::string kKey = "KEY9";

std::string answerWith(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nServer: Fernbeacon Server Version 1.1\r\n"
           "Content-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string requestFor(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// A command runner that notes when each command was issued, in real time.
class TimedRunner final : public CommandRunner {
public:
    explicit TimedRunner(test::FakePlayers& players) : m_players(players) {}
    bool run(const StationCommand& command, WindowStyle style) override {
        issued.push_back({test::commandText(command), Clock::now()});
        return m_players.run(command, style);
    }
    std::vector<std::pair<std::string, Clock::time_point>> issued;

private:
    test::FakePlayers& m_players;
};

// A blocking client socket to `host`, from the loopback address `from`
// (the kernel's choice when empty), usable from any thread.
class Client {
public:
    explicit Client(quint16 port, const char* host = "127.0.0.1", const std::string& from = {})
        : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (!from.empty()) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from.c_str(), &source.sin_addr);
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, host, &address.sin_addr);
        timeval timeout{15, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const auto n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;  // the server may close before taking everything
            sent += static_cast<std::size_t>(n);
        }
    }

    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    /// Everything until the server closes; `closedByServer` tells whether it did.
    std::string readToClose() {
        std::string received;
        char buffer[4096];
        for (;;) {
            const auto n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                if (received.empty()) firstByteAt = Clock::now();
                received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            closedByServer = n == 0 || errno == ECONNRESET;
            reset = n < 0 && errno == ECONNRESET;
            return received;
        }
    }

    /// Whether the server has closed the connection, without waiting.
    bool closedNow() {
        pollfd entry{m_fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0) return false;
        char byte;
        const auto n = ::recv(m_fd, &byte, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

    bool connected = false;
    bool closedByServer = false;
    bool reset = false;
    Clock::time_point firstByteAt;

private:
    int m_fd;
};

struct Exchange {
    std::string received;
    bool closedByServer = false;
    bool reset = false;
    Clock::time_point answeredAt;
};

// One client's whole exchange in its own thread: the pieces in turn, then read to close.
std::future<Exchange> exchangeAsync(quint16 port, std::vector<std::string> pieces,
                                    std::chrono::milliseconds gap = 0ms) {
    return std::async(std::launch::async, [port, pieces = std::move(pieces), gap] {
        Client client(port);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(gap);
            client.send(pieces[i]);
        }
        Exchange result;
        result.received = client.readToClose();
        result.closedByServer = client.closedByServer;
        result.reset = client.reset;
        result.answeredAt = client.firstByteAt;
        return result;
    });
}

class ApiServerTest : public ::testing::Test {
protected:
    ApiServerTest() {
        dir.write("sourcelist.ini",
                  "1n:One\r\n1u:http://one.example/live\r\n"
                  "3n:Three\r\n3u:http://three.example/live\r\n"
                  "0n:Backup\r\n0u:http://backup.example/live\r\n");
        auto& station = controller.station();
        station.state.APIkey = kKey;
        station.display.lblSourceNumber.caption = "1";
        station.display.lblCurrentSource.caption = "http://one.example/live";
        station.display.lblStudio.caption = "One";
        station.display.lblRXmetadata.caption = "Artist - Title";
        server.setAfterEvent([this] { ++afterEvents; });
    }

    quint16 port() const { return server.port(); }
    std::string lineText(int i) const {
        const QLabel* label = window.line(i);
        return label ? label->text().toStdString() : "<none>";
    }
    Exchange ask(const std::string& path) {
        auto future = exchangeAsync(port(), {requestFor(path)});
        return pumpFor(future);
    }

    bool m_application = (ensureApplication(), true);  // before any widget
    test::TempDir dir;
    test::FakeClock clock;
    test::FakePlayers players{dir.path()};
    TimedRunner runner{players};
    test::FakeEventLoop loop{clock};
    test::FakeFetcher fetcher{&loop};
    StationController controller{Platform{clock, runner, players, loop, fetcher, fetcher, fetcher,
                                          fetcher, fetcher, fetcher, dir.path()}};
    ApiServer server{controller.station(), 0};
    ApiWindow window{server};
    int afterEvents = 0;
};

TEST_F(ApiServerTest, AnswersEveryEndpointAndClosesAfterTheResponse) {
    ASSERT_NE(port(), 0);
    EXPECT_EQ(window.windowTitle().toStdString(), "Kestrelfield API Server");
    EXPECT_EQ(lineText(0), "00 Listening");

    const std::pair<std::string, std::string> cases[] = {
        {"/api/getcurrent.php?id=" + kKey,
         "Source: 1\r\nURL: http://one.example/live\r\nName: One\r\nVolume: 100\r\n"},
        {"/api/metadata.php?id=" + kKey, "Artist - Title\r\nOK\r\n"},
        {"/api/getcurrent.php?id=wrong", "ERROR"},
        {"/api/listsources.php?id=" + kKey + "&x=1", "ERROR"},
    };
    for (const auto& [path, body] : cases) {
        const auto exchange = ask(path);
        EXPECT_EQ(exchange.received, answerWith(body)) << path;
        EXPECT_TRUE(exchange.closedByServer) << path;
        ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 0; }));
        EXPECT_EQ(lineText(1), "01 Closed") << "one element serves one client after another";
    }
    const auto list = ask("/api/listsources.php?id=" + kKey);
    EXPECT_NE(list.received.find("Source: 9\r\nURL: \r\nName: \r\nVolume: 100\r\n"
                                 "Source: BACKUP\r\nURL: http://backup.example/live\r\n"),
              std::string::npos);
    EXPECT_EQ(afterEvents, 0) << "reading requests change nothing the main window shows";
    EXPECT_EQ(window.line(2), nullptr);
}

TEST_F(ApiServerTest, ClientThatSendsNothingAndLeavesIsClosed) {
    {
        Client client(port());
        ASSERT_TRUE(client.connected);
        ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 1; }));
    }
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 0; }));
    EXPECT_EQ(lineText(1), "01 Closed");
}

TEST_F(ApiServerTest, ThreeSimultaneousClientsGetStackedElements) {
    auto a = std::make_unique<Client>(port()), b = std::make_unique<Client>(port()),
         c = std::make_unique<Client>(port());
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 3; }));
    auto answerOf = [&](Client& client, const std::string& path) {
        return std::async(std::launch::async, [&client, path] {
            client.send(requestFor(path));
            return client.readToClose();
        });
    };
    auto fc = answerOf(*c, "/api/metadata.php?id=" + kKey);
    auto fa = answerOf(*a, "/api/getcurrent.php?id=" + kKey);
    auto fb = answerOf(*b, "/nothing");
    EXPECT_EQ(pumpFor(fc), answerWith("Artist - Title\r\nOK\r\n"));
    EXPECT_EQ(pumpFor(fb), answerWith("ERROR"));
    EXPECT_NE(pumpFor(fa).find("Source: 1\r\n"), std::string::npos);

    const int pitch = window.line(0)->height() + 5;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_NE(window.line(i), nullptr);
        EXPECT_EQ(window.line(i)->y(), i * pitch);
        EXPECT_EQ(window.line(i)->x(), window.line(0)->x());
    }
    EXPECT_EQ(server.connections().openCount(), 3) << "each is read on until its client closes";
    a.reset(), b.reset(), c.reset();
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 0; }));
    EXPECT_EQ(lineText(2), "02 Closed");
}

TEST_F(ApiServerTest, SplitRequestIsUnderstood) {
    auto future = exchangeAsync(
        port(), {"GET /api/getcur", "rent.php?id=" + kKey + " HTTP/1.", "1\r\n\r\n"}, 100ms);
    const auto exchange = pumpFor(future);
    EXPECT_NE(exchange.received.find("Source: 1\r\n"), std::string::npos) << exchange.received;
    EXPECT_TRUE(exchange.closedByServer);
}

TEST_F(ApiServerTest, ClientThatStopsSendingAfterItsRequestStillGetsTheAnswer) {
    auto future = std::async(std::launch::async, [port = port()] {
        Client client(port);
        client.send(requestFor("/api/metadata.php?id=" + kKey));
        client.shutdownWrite();
        return client.readToClose();
    });
    EXPECT_EQ(pumpFor(future), answerWith("Artist - Title\r\nOK\r\n"));
}

TEST_F(ApiServerTest, LongRequestsAreAnsweredAndClosedWithoutAReset) {
    const auto request = [](std::size_t size) {
        std::string text = requestFor("/api/metadata.php?id=" + kKey);
        text.insert(text.size() - 2, "X-Pad: " + std::string(size - text.size() - 9, 'p') + "\r\n");
        return text;
    };
    for (const std::size_t size : {6000u, 20000u, 30000u}) {
        for (const int pieces : {1, 3}) {
            const std::string text = request(size);
            std::vector<std::string> parts;
            for (int p = 0; p < pieces; ++p)
                parts.push_back(text.substr(p * size / pieces, size / pieces + pieces));
            auto future = exchangeAsync(port(), parts, 30ms);
            const auto exchange = pumpFor(future);
            EXPECT_EQ(exchange.received, answerWith("Artist - Title\r\nOK\r\n")) << size;
            EXPECT_TRUE(exchange.closedByServer && !exchange.reset) << size << " in " << pieces;
        }
    }
}

TEST_F(ApiServerTest, MegabyteWithoutLineEndGetsErrorAndIsClosed) {
    auto future = exchangeAsync(port(), {"GET /" + std::string(1 << 20, 'a')});
    const auto exchange = pumpFor(future);
    EXPECT_EQ(exchange.received, answerWith("ERROR"));
    EXPECT_TRUE(exchange.closedByServer);
}

TEST_F(ApiServerTest, UnfinishedRequestGetsErrorAfterTheDeadline) {
    auto future = exchangeAsync(port(), {"GET /api/getcurrent.php?id=" + kKey + " HTTP/1."});
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 1; }));
    pumpUntil([] { return false; }, 300ms);
    EXPECT_NE(future.wait_for(0ms), std::future_status::ready) << "kept while it may complete";
    clock.advanceSeconds(ApiConnections::kDeadlineSeconds);
    const auto exchange = pumpFor(future);
    EXPECT_EQ(exchange.received, answerWith("ERROR"));
    EXPECT_TRUE(exchange.closedByServer);
}

TEST_F(ApiServerTest, IdleFloodsNeverLockOutAClientThatAsks) {
    // 200 from the asking client's own address, then 15 from each of 10 others.
    std::vector<std::unique_ptr<Client>> idle;
    const auto connectIdle = [&](int n) {
        const std::string from = "127.0.0." + std::to_string(n < 200 ? 1 : 2 + (n - 200) / 15);
        idle.push_back(std::make_unique<Client>(port(), "127.0.0.1", from));
    };
    for (int n = 0; n < 350; ++n)
        connectIdle(n);
    const auto closedCount = [&] {
        return std::ranges::count_if(idle, [](auto& client) { return client->closedNow(); });
    };
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 350; }));
    EXPECT_EQ(closedCount(), 0) << "young connections are never closed";
    EXPECT_NE(ask("/api/getcurrent.php?id=" + kKey).received.find("Source: 1\r\n"),
              std::string::npos);

    // Once they have idled past the grace period, each newcomer closes one.
    clock.advanceSeconds(ApiConnections::kGraceSeconds);
    const auto exchange = ask("/api/getcurrent.php?id=" + kKey);
    EXPECT_NE(exchange.received.find("Source: 1\r\n"), std::string::npos);
    connectIdle(349);  // from another address
    ASSERT_TRUE(pumpUntil([&] { return closedCount() == 2; }));
    const auto& counters = controller.station().counters;
    EXPECT_EQ(counters.apiEvictionsBy(ApiEviction::PerAddress), 1u);
    EXPECT_EQ(counters.apiEvictionsBy(ApiEviction::TableFull), 1u);
}

TEST_F(ApiServerTest, SwitchRequestAnswersAfterTheWholeSwitch) {
    const auto startedAt = clock.ms();
    const auto exchange = ask("/api/setcurrent.php?id=" + kKey + "3");

    EXPECT_EQ(exchange.received, answerWith("Source: 3\r\nOK\r\n"));
    ASSERT_EQ(runner.issued.size(), 2u);
    EXPECT_NE(runner.issued[0].first.find("http://three.example/live"), std::string::npos);
    EXPECT_LE(runner.issued[1].second, exchange.answeredAt) << "the old slot stopped first";
    EXPECT_GE(clock.ms() - startedAt, 2000) << "the overlap pause ran";
    auto& station = controller.station();
    EXPECT_EQ(station.state.CurrentSource, 3);
    EXPECT_EQ(station.display.lblCurrentSource.caption, "http://three.example/live");
    EXPECT_TRUE(station.state.TransferString.empty());
    ASSERT_TRUE(pumpUntil([&] { return server.connections().openCount() == 0; }));
    EXPECT_EQ(lineText(1), "01 Closed");
    EXPECT_EQ(afterEvents, 1) << "the main window re-renders after the switch";
}

TEST_F(ApiServerTest, APIBindNamesTheAddressAndAnythingElseMeansAll) {
    const struct {
        const char* bind;
        bool on1, on2, problem;
    } cases[] = {{"127.0.0.2", false, true, false},
                 {"", true, true, false},
                 {"/srv/station", true, true, true}};
    for (const auto& c : cases) {
        std::ostringstream journal;
        controller.station().journal.setOutput(&journal);
        controller.station().state.APIBind = c.bind;
        ApiServer bound(controller.station(), 0);
        ASSERT_NE(bound.port(), 0) << c.bind;
        EXPECT_EQ(Client(bound.port(), "127.0.0.1").connected, c.on1) << c.bind;
        EXPECT_EQ(Client(bound.port(), "127.0.0.2").connected, c.on2) << c.bind;
        const bool journaled =
            journal.str().find("APIBind \\\"/srv/station\\\" is no IP address") !=
            std::string::npos;
        EXPECT_EQ(journaled, c.problem) << journal.str();
    }
}

TEST_F(ApiServerTest, PortInUseLeavesNoConnectionAndNothingListening) {
    std::ostringstream journal;
    controller.station().journal.setOutput(&journal);
    ApiServer second(controller.station(), port());
    ApiWindow secondWindow(second);
    EXPECT_EQ(second.port(), 0);
    EXPECT_NE(journal.str().find("event=configuration_problem problem=\"the API cannot listen on "),
              std::string::npos)
        << journal.str();
    EXPECT_NE(journal.str().find(" port " + std::to_string(port()) + ": "), std::string::npos)
        << journal.str();
    EXPECT_EQ(secondWindow.line(0)->text().toStdString(), "(No Connection)");
}

}  // namespace
}  // namespace kestrel
