#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "support/api_station.h"
#include "support/browser.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
const std::string kKey = "room-key";

// Whether the week's picture has source `source` on `weekday` (1 = Sunday).
std::string plays(int weekday, int source) {
    return "return document.querySelector('g.stretch[data-day=\"" + std::to_string(weekday) +
           "\"][data-source=\"" + std::to_string(source) + "\"]') !== null";
}

TEST(ControlRoomInBrowser, LogsInSwitchesTurnsManualAndEditsTheWeek) {
    test::ApiStation station(kKey);
    station.write("kestrelfield.ini", "[Kestrelfield]\r\nAPIKey=" + kKey + "\r\n");
    station.write("sourcelist.ini",
                  "1n:Dales Morning\r\n1u:http://one.example/live\r\n"
                  "3n:Kestrel Nights\r\n3u:http://three.example/live\r\n");
    station.write("sourceevents.ini", "2 060000 1\r\n");
    station.controller.startUp();
    station.station().display.comboSourceList.text = "1";
    station.controller.cmdForceSwitch_Click();
    const std::string room =
        "http://127.0.0.1:" + std::to_string(station.server.port()) + "/control";
    test::TempDir dir;

    // The browser works in a thread of its own while this one runs the station's loop.
    auto browse = std::async(std::launch::async, [&] {
        test::Browser browser(dir, 360, 780);
        ASSERT_TRUE(browser.started()) << dir.read("chromedriver.log");
        browser.open(room);
        ASSERT_TRUE(browser.shows("login", "Log in", 20s)) << "a visit without a session";
        browser.fillAndPress("key", kKey, "login");
        ASSERT_TRUE(browser.shows("lblSourceDisp", "1", 20s)) << browser.text("notice");
        const std::string fits =
            "return innerWidth === 360 && document.documentElement.scrollWidth <= 360";
        EXPECT_TRUE(browser.holds(fits, 2s)) << "the page fits a phone";

        browser.fillAndPress("source", "3", "switch");
        EXPECT_TRUE(browser.shows("lblSourceDisp", "3", 5s));
        EXPECT_TRUE(browser.shows("lblStudio", "Kestrel Nights", 2s));
        browser.run("document.getElementById('modeButton').click()");
        EXPECT_TRUE(browser.shows("cmdAutoManual", "MANUAL", 5s));

        browser.open(room + "/week");
        ASSERT_TRUE(browser.holds(plays(2, 1), 10s));
        EXPECT_TRUE(browser.holds(fits, 2s)) << "the picture scrolls within the page";
        EXPECT_FALSE(browser.holds(plays(2, 3), 0s));
        browser.fillAndPress("text", "2 060000 1\n2 08300 3\n", "save");
        EXPECT_TRUE(
            browser.holds("const f = document.getElementById('textFindings');"
                          "return f !== null && f.textContent.includes("
                          "'line 2 9 characters, not 10: ignored')",
                          10s))
            << browser.text("editor");
        EXPECT_NE(browser.text("notice").find("Not saved"), std::string::npos);
        EXPECT_FALSE(browser.holds(plays(2, 3), 0s)) << "the picture shows the file";
        browser.fillAndPress("text", "2 060000 1\n2 083000 3\n", "save");
        EXPECT_TRUE(browser.holds(plays(2, 3), 10s)) << browser.text("editor");
        EXPECT_NE(browser.text("notice").find("Saved"), std::string::npos);

        const auto refused = browser.run(
            "return fetch('/control/switch', {method: 'POST', body: new "
            "URLSearchParams({source: '1'})}).then((answer) => answer.status)");
        EXPECT_EQ(refused, 403) << "a change without the page's token";
    });
    test::pumpFor(browse, std::chrono::minutes(3));
    EXPECT_EQ(station.station().state.CurrentSource, 3);
    EXPECT_FALSE(station.station().automatic());
    EXPECT_EQ(station.read("sourceevents.ini"), "2 060000 1\r\n2 083000 3\r\n");
    EXPECT_EQ(station.read("sourceevents.ini.bak"), "2 060000 1\r\n");
    EXPECT_EQ(station.station().counters.switchesBy(SwitchCause::Web), 1u);
}

}  // namespace
}  // namespace kestrel
