#include "platform/curl_fetcher.h"
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

int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class CurlFetcherTest : public ::testing::Test {
protected:
    ScopedEnv noProxy{"no_proxy", "127.0.0.1"};
    TestServer server;
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
    CurlFetcher fetcher(10);
    for (const auto& c : cases) {
        for (const auto form : {BodyForm::Text, BodyForm::Bytes}) {
            const auto result = fetcher.fetch(server.url(c.target), form);
            EXPECT_TRUE(result.ok) << c.target << ": " << result.error;
            EXPECT_EQ(result.status, c.status) << c.target;
            EXPECT_EQ(result.body, c.body) << c.target;
        }
    }
}

TEST_F(CurlFetcherTest, FailedRequestsAreErrors) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/x";
    const std::string cases[] = {
        refused,
        "http://",
        "not a url",
        "file:///etc/passwd",
        "ftp://127.0.0.1:" + std::to_string(server.port) + "/body",
        server.url("/big"),
    };
    CurlFetcher fetcher(10);
    for (const auto& url : cases) {
        const auto result = fetcher.fetch(url, BodyForm::Text);
        EXPECT_FALSE(result.ok) << url;
        EXPECT_FALSE(result.error.empty()) << url;
        EXPECT_TRUE(result.body.empty()) << url;
    }
    EXPECT_TRUE(fetcher.fetch(server.url("/body"), BodyForm::Text).ok) << "usable after errors";
}

TEST_F(CurlFetcherTest, ServerSlowerThanTheTimeOutFails) {
    CurlFetcher fetcher(1);
    const auto start = std::chrono::steady_clock::now();
    const auto result = fetcher.fetch(server.url("/slow"), BodyForm::Text);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "ended by the time-out";
}

TEST_F(CurlFetcherTest, EncodesOnlyWhatCannotStandInARequestLine) {
    CurlFetcher fetcher(10);
    const auto result = fetcher.fetch(
        server.url("/q?city=New York&t=\"A\"\tB&u=\xC3\xA9&p=a%20b/c=d%e#frag"), BodyForm::Text);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "/q?city=New%20York&t=%22A%22%09B&u=%C3%A9&p=a%20b/c=d%e%23frag");
    EXPECT_EQ(encodeForRequestLine(std::string("a\x01\x7f\xff\r\n b", 8)), "a%01%7F%FF%0D%0A%20b");
    EXPECT_EQ(encodeForRequestLine("/a?b&c=d/%e"), "/a?b&c=d/%e");
}

TEST_F(CurlFetcherTest, FollowsTheProxyEnvironmentAsCurlDoes) {
    ScopedEnv proxy("http_proxy", ("http://127.0.0.1:" + std::to_string(server.port)).c_str());
    ScopedEnv noBypass("no_proxy", "");
    CurlFetcher fetcher(10);
    const auto result = fetcher.fetch("http://station.invalid/now?x=1", BodyForm::Text);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "http://station.invalid/now?x=1");
}

TEST_F(CurlFetcherTest, BusyWhileAFetchRunsAndCancelAbortsIt) {
    CurlFetcher fetcher(60);
    EXPECT_FALSE(fetcher.busy());
    fetcher.cancel();  // nothing carried: no effect on the next fetch
    auto pending = std::async(std::launch::async,
                              [&] { return fetcher.fetch(server.url("/slow"), BodyForm::Text); });
    ASSERT_TRUE(waitUntil([&] { return fetcher.busy(); }));
    fetcher.cancel();
    ASSERT_EQ(pending.wait_for(20s), std::future_status::ready);
    const auto result = pending.get();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "request cancelled");
    EXPECT_FALSE(fetcher.busy());
    EXPECT_EQ(fetchFresh(fetcher, server.url("/body"), BodyForm::Text).body, "hello body");
}

}  // namespace
}  // namespace kestrel
