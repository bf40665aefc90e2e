#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>

#include "support/api_station.h"
#include "support/browser.h"

namespace kestrel {
namespace {

using test::Browser;
const std::string kKey = "page-key";

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
