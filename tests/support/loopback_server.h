#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/curl_fetcher.h"
#include "support/child_process.h"
#include "support/fake_fetcher.h"
#include "support/live_transfers.h"

namespace kestrel::test {

/// A real HTTP server on 127.0.0.1 and a free port, run in a thread of the
/// test. Register handlers on `http` first, then call start(); the server is
/// stopped and joined when the object goes. Records every request target
/// (path and query as sent).
class LoopbackServer {
public:
    LoopbackServer() {
        m_port = http.bind_to_any_port("127.0.0.1");
        // Recorded before the answer goes out, so a test sees it once its request returns.
        http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard lock(m_mutex);
            m_targets.push_back(request.target);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    ~LoopbackServer() {
        if (!m_thread.joinable()) return;
        while (!http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        http.stop();
        m_thread.join();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    void start() {
        m_thread = std::thread([this] { http.listen_after_bind(); });
    }

    int port() const { return m_port; }
    /// "http://127.0.0.1:PORT" + `path`.
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<std::string> targets() const {
        std::lock_guard lock(m_mutex);
        return m_targets;
    }
    /// Targets beginning with `prefix`.
    std::vector<std::string> targetsStartingWith(const std::string& prefix) const {
        std::vector<std::string> matching;
        for (const auto& target : targets()) {
            if (target.rfind(prefix, 0) == 0) matching.push_back(target);
        }
        return matching;
    }

    httplib::Server http;

private:
    int m_port = -1;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_targets;
};

/// A loopback address where nothing listens: a port just bound and released.
inline std::string unreachableUrl(const std::string& path = "") {
    return "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + path;
}

/// Lets a FakeFetcher's requests go out through a real CurlFetcher, with the
/// leading `fromPrefix` of each URL (a fixed service host) replaced by
/// `toPrefix` (a loopback server). The fake keeps recording the requests and
/// answers when the real one has its answer.
inline void routeThroughCurl(FakeFetcher& fake, LiveTransfers& transfers, CurlFetcher& curl,
                             std::string fromPrefix = "", std::string toPrefix = "") {
    fake.respond = [&transfers, &curl, fromPrefix, toPrefix](const std::string& url) {
        std::string routed = url;
        if (!fromPrefix.empty() && routed.rfind(fromPrefix, 0) == 0) {
            routed.replace(0, fromPrefix.size(), toPrefix);
        }
        return transfers.fetch(curl, routed, BodyForm::Bytes);
    };
}

}  // namespace kestrel::test
