#include "platform/curl_fetcher.h"
#include "support/child_process.h"
#include "support/live_transfers.h"
#include "support/wait.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace kestrel {
namespace {

using test::waitUntil;

using namespace std::chrono_literals;

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A loopback server on a free port, run in its own thread for one test.
class TestServer {
public:
    TestServer() {
        m_server.Get("/body",
                     [](const auto&, auto& res) { res.set_content("hello body", "text/plain"); });
        m_server.Get("/empty", [](const auto&, auto& res) { res.set_content("", "text/plain"); });
        m_server.Get("/missing", [](const auto&, auto& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        m_server.Get("/fail", [](const auto&, auto& res) {
            res.status = 500;
            res.set_content("boom", "text/plain");
        });
        m_server.Get("/slow", [this](const auto&, auto& res) {
            waitUntil([this] { return m_release.load(); }, 60s);
            res.set_content("late", "text/plain");
        });
        m_server.Get("/big", [](const auto&, auto& res) {
            res.set_content(std::string(kMaxFetchBody + 1, 'a'), "text/plain");
        });
        m_server.Get(R"(.*)",
                     [](const auto& req, auto& res) { res.set_content(req.target, "text/plain"); });
        port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~TestServer() {
        m_release = true;
        waitUntil([this] { return m_server.is_running(); });
        m_server.stop();
        m_thread.join();
    }

    std::string url(const std::string& target) const {
        return "http://127.0.0.1:" + std::to_string(port) + target;
    }

    int port = 0;

private:
    httplib::Server m_server;
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};

// A TCP peer on loopback that misbehaves in one way for every connection.
class BadServer {
public:
    enum class Kind { Silent, Trickle, Reset };

    explicit BadServer(Kind kind) : m_kind(kind) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 8);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~BadServer() {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }

    int port = 0;

private:
    void serve() {
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0) return;
        if (m_kind == Kind::Reset) {
            const linger abort{1, 0};  // close with RST instead of FIN
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        } else if (m_kind == Kind::Trickle) {
            const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
            ::send(client, head.data(), head.size(), MSG_NOSIGNAL);
            while (!m_stop && ::send(client, "x", 1, MSG_NOSIGNAL) == 1)
                waitUntil([this] { return m_stop.load(); }, 1s);
        } else {
            waitUntil([this] { return m_stop.load(); }, 60s);
        }
        ::close(client);
    }

    Kind m_kind;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class CurlFetcherTest : public ::testing::Test {
protected:
    FetchResult fetch(CurlFetcher& fetcher, const std::string& url, BodyForm form) {
        return transfers.fetch(fetcher, url, form);
    }

    ScopedEnv noProxy{"no_proxy", "127.0.0.1"};
    TestServer server;
    test::LiveTransfers transfers;
};

TEST_F(CurlFetcherTest, AnyHttpAnswerIsAResultWithStatusAndBody) {
    struct Case {
        const char* target;
        int status;
        std::string body;
    } cases[] = {
        {"/body", 200, "hello body"},
        {"/empty", 200, ""},
        {"/missing", 404, "not here"},
        {"/fail", 500, "boom"},
    };
    CurlFetcher fetcher(transfers.multi, 10);
    for (const auto& c : cases) {
        for (const auto form : {BodyForm::Text, BodyForm::Bytes}) {
            const auto result = fetch(fetcher, server.url(c.target), form);
            EXPECT_TRUE(result.ok) << c.target << ": " << result.error;
            EXPECT_EQ(result.status, c.status) << c.target;
            EXPECT_EQ(result.body, c.body) << c.target;
        }
    }
}

TEST_F(CurlFetcherTest, FailedRequestsAreErrors) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort()) + "/x";
    const std::string cases[] = {
        refused,
        "http://",
        "not a url",
        "file:///etc/passwd",
        "ftp://127.0.0.1:" + std::to_string(server.port) + "/body",
        server.url("/big"),
    };
    CurlFetcher fetcher(transfers.multi, 10);
    for (const auto& url : cases) {
        const auto result = fetch(fetcher, url, BodyForm::Text);
        EXPECT_FALSE(result.ok) << url;
        EXPECT_FALSE(result.error.empty()) << url;
        EXPECT_TRUE(result.body.empty()) << url;
    }
    EXPECT_TRUE(fetch(fetcher, server.url("/body"), BodyForm::Text).ok) << "usable after errors";
}

// A peer that never answers, trickles or resets holds up nobody else, and
// its request still ends by the time-out.
TEST_F(CurlFetcherTest, BadServersHoldUpNoOtherRequestAndTimeOut) {
    const struct {
        const char* name;
        BadServer::Kind kind;
        bool outlastsOthers;
    } cases[] = {
        {"accepts and never answers", BadServer::Kind::Silent, true},
        {"trickles a byte a second", BadServer::Kind::Trickle, true},
        {"resets the connection", BadServer::Kind::Reset, false},
    };
    for (const auto& c : cases) {
        BadServer bad(c.kind);
        CurlFetcher slow(transfers.multi, 2);
        CurlFetcher quick(transfers.multi, 10);
        const auto start = std::chrono::steady_clock::now();
        std::optional<FetchResult> slowResult;
        slow.start("http://127.0.0.1:" + std::to_string(bad.port) + "/", BodyForm::Text,
                   [&](FetchResult result) { slowResult = std::move(result); });
        EXPECT_EQ(fetch(quick, server.url("/body"), BodyForm::Text).body, "hello body") << c.name;
        if (c.outlastsOthers) {
            EXPECT_FALSE(slowResult) << c.name << ": still waiting";
        }
        ASSERT_TRUE(transfers.pumpUntil([&] { return slowResult.has_value(); })) << c.name;
        EXPECT_FALSE(slowResult->ok) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << c.name;
    }
}

TEST_F(CurlFetcherTest, EncodesOnlyWhatCannotStandInARequestLine) {
    CurlFetcher fetcher(transfers.multi, 10);
    const auto result =
        fetch(fetcher, server.url("/q?city=New York&t=\"A\"\tB&u=\xC3\xA9&p=a%20b/c=d%e#frag"),
              BodyForm::Text);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "/q?city=New%20York&t=%22A%22%09B&u=%C3%A9&p=a%20b/c=d%e%23frag");
    EXPECT_EQ(encodeForRequestLine(std::string("a\x01\x7f\xff\r\n b", 8)), "a%01%7F%FF%0D%0A%20b");
    EXPECT_EQ(encodeForRequestLine("/a?b&c=d/%e"), "/a?b&c=d/%e");
}

TEST_F(CurlFetcherTest, FollowsTheProxyEnvironmentAsCurlDoes) {
    ScopedEnv proxy("http_proxy", ("http://127.0.0.1:" + std::to_string(server.port)).c_str());
    ScopedEnv noBypass("no_proxy", "");
    CurlFetcher fetcher(transfers.multi, 10);
    const auto result = fetch(fetcher, "http://station.invalid/now?x=1", BodyForm::Text);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "http://station.invalid/now?x=1");
}

TEST_F(CurlFetcherTest, BusyWhileAFetchRunsAndCancelAbortsIt) {
    CurlFetcher fetcher(transfers.multi, 60);
    EXPECT_FALSE(fetcher.busy());
    fetcher.cancel();  // nothing carried: no effect on the next fetch
    std::optional<FetchResult> pending;
    fetcher.start(server.url("/slow"), BodyForm::Text,
                  [&](FetchResult result) { pending = std::move(result); });
    EXPECT_TRUE(fetcher.busy());
    transfers.pumpUntil([] { return false; }, 100ms);
    fetcher.cancel();
    ASSERT_TRUE(pending.has_value()) << "a cancel answers at once";
    EXPECT_FALSE(pending->ok);
    EXPECT_EQ(pending->error, "request cancelled");
    EXPECT_FALSE(fetcher.busy());
    EXPECT_EQ(fetch(fetcher, server.url("/body"), BodyForm::Text).body, "hello body");
}

}  // namespace
}  // namespace kestrel
