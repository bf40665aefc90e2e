#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/api_station.h"
#include "support/child_process.h"
#include "support/wait.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;
const std::string kKey = "page-key";

// A headless Chromium driven over WebDriver (Debian's chromedriver) on loopback.
class Browser {
public:
    explicit Browser(const test::TempDir& dir)
        : m_port(test::freeLoopbackPort()),
          m_driver({"chromedriver", "--port=" + std::to_string(m_port)}, dir.path(),
                   dir.path() / "chromedriver.log"),
          m_http("127.0.0.1", m_port) {
        m_http.set_read_timeout(60);
        test::waitUntil([this] { return m_http.Get("/status") != nullptr; });
        Json args = {"--user-data-dir=" + (dir.path() / "profile").string()};
        std::istringstream flags(
            "--headless --no-sandbox --disable-gpu --disable-quic "
            "--no-first-run --disable-background-networking "
            "--disable-component-update --disable-sync");
        for (std::string flag; flags >> flag;)
            args.push_back(flag);
        const Json options = {{"binary", "/usr/bin/chromium"}, {"args", args}};
        m_session += post("/session",
                          {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}})
                         .value("sessionId", "");
    }
    ~Browser() { m_http.Delete(m_session); }

    bool started() const { return m_session != "/session/"; }
    void open(const std::string& url) { post(m_session + "/url", {{"url", url}}); }
    /// Runs `script` in the page with `argument`; its result.
    Json run(const std::string& script, const std::string& argument = "") {
        return post(m_session + "/execute/sync", {{"script", script}, {"args", {argument}}});
    }
    /// Whether the element with this id shows `expected` within `limit`.
    bool shows(const std::string& id, const std::string& expected, std::chrono::seconds limit) {
        return test::waitUntil([&] { return text(id) == expected; }, limit);
    }
    std::string text(const std::string& id) {
        const Json shown = run("return document.getElementById(arguments[0]).textContent", id);
        return shown.is_string() ? shown.get<std::string>() : "<none>";
    }

private:
    Json post(const std::string& path, const Json& body) {
        const auto answer = m_http.Post(path, body.dump(), "application/json");
        const Json parsed = Json::parse(answer ? answer->body : "", nullptr, false);
        return parsed.is_object() ? parsed.value("value", Json()) : Json();
    }

    int m_port;
    test::ChildProcess m_driver;
    httplib::Client m_http;
    std::string m_session = "/session/";
};

TEST(StatusPageInBrowser, ShowsTheSourceOnAirFollowsASwitchAndForcesOne) {
    test::ApiStation station(kKey);
    station.write("kestrelfield.ini", "[Kestrelfield]\r\nAPIKey=" + kKey + "\r\n");
    station.write("sourcelist.ini",
                  "1n:Dales Morning\r\n1u:http://one.example/live\r\n"
                  "3n:Kestrel Nights\r\n3u:http://three.example/live\r\n");
    station.controller.startUp();
    station.station().display.comboSourceList.text = "1";
    station.controller.cmdForceSwitch_Click();
    test::TempDir dir;

    // The browser works in a thread of its own while this one runs the station's loop.
    auto browse = std::async(std::launch::async, [&] {
        Browser browser(dir);
        ASSERT_TRUE(browser.started()) << dir.read("chromedriver.log");
        browser.open("http://127.0.0.1:" + std::to_string(station.server.port()) +
                     "/api/status.html?id=" + kKey);
        ASSERT_TRUE(browser.shows("lblSourceDisp", "1", std::chrono::seconds(30)));
        EXPECT_EQ(browser.text("lblStudio"), "Dales Morning");

        httplib::Client("127.0.0.1", station.server.port())
            .Get("/api/setcurrent.php?id=" + kKey + "3");
        EXPECT_TRUE(browser.shows("lblSourceDisp", "3", std::chrono::seconds(2)))
            << "the page follows a switch within 2 s";

        // The operator's way: choose source 1 in the selector, press "Force Switch Now".
        browser.run(
            "const s = document.getElementById('comboSourceList'); s.value = arguments[0];"
            "document.getElementById('cmdForceSwitch').click();",
            "1");
        EXPECT_TRUE(browser.shows("answer", "Source: 1\r\nOK", std::chrono::seconds(10)))
            << browser.text("answer");
        EXPECT_TRUE(browser.shows("lblSourceDisp", "1", std::chrono::seconds(2)));
    });
    test::pumpFor(browse, std::chrono::minutes(2));
    EXPECT_EQ(station.station().state.CurrentSource, 1);
    EXPECT_EQ(station.station().counters.switchesBy(SwitchCause::Api), 2u);
}

}  // namespace
}  // namespace kestrel
