// The control room with the real headless station, real MPlayer (null audio
// output) on two loopback streams that burst their first data, and a real
// headless Chromium over WebDriver:
//  - page weight: HTML + CSS + JS of the control page, the week and the look back,
//  - click to on air: from a click on "Switch now" to the page showing the new
//    source on air (measured in the page), alternating between the streams,
//  - the station's CPU (its own process, players aside) with no page open and
//    with three control pages open and polling.
// With --screenshots DIR it instead logs in to a station already running on
// port 1011 with the key KEY and saves the control page, the week and the look
// back as PNGs in DIR (scripts/screenshot uses it).
//
// Usage: bench_control_room [STATION] [ROUNDS] [SECONDS]
//        bench_control_room --screenshots DIR KEY
//   STATION  the station binary (default build/kestrelfield)
//   ROUNDS   clicks (default 10); SECONDS  each CPU measurement (default 60)
// Binds port 1011 and starts players: take /tmp/kestrelfield-players.lock.
#include <httplib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "station_bench.h"
#include "support/browser.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;
using kestrel::test::Browser;
using kestrel::test::TempDir;

const std::string kRoom = "http://127.0.0.1:1011/control";

// The station's own CPU time so far, in seconds.
double cpuSeconds(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::stoull(field);
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double cpuPercentOver(pid_t pid, int seconds) {
    const double before = cpuSeconds(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return (cpuSeconds(pid) - before) / secondsSince(start) * 100;
}

bool logIn(Browser& browser, const std::string& key) {
    browser.open(kRoom + "/login");
    browser.fillAndPress("key", key, "login");
    return browser.holds(
        "return document.getElementById('lblSourceDisp') !== null && "
        "document.getElementById('lblSourceDisp').textContent !== ''",
        20s);
}

// Bytes of a page with the style sheet and the script it loads.
std::size_t pageWeight(httplib::Client& http, const std::string& path,
                       const httplib::Headers& session) {
    std::size_t bytes = 0;
    for (const std::string& part :
         {path, std::string("/control/control.css"), std::string("/control/control.js")}) {
        const auto answer = http.Get(part, session);
        bytes += answer ? answer->body.size() : 0;
    }
    return bytes;
}

// Milliseconds from the click to the page showing `source` on air; -1 when it never did.
double clickToOnAir(Browser& browser, int source) {
    const auto shown = browser.run(R"js(
      const target = arguments[0];
      const shown = document.getElementById("lblSourceDisp");
      return new Promise((resolve) => {
        const started = performance.now();
        const observer = new MutationObserver(() => {
          if (shown.textContent !== target) return;
          observer.disconnect();
          resolve(performance.now() - started);
        });
        observer.observe(shown, { childList: true, characterData: true, subtree: true });
        document.getElementById("source").value = target;
        document.getElementById("switch").click();
        setTimeout(() => { observer.disconnect(); resolve(-1); }, 25000);
      });)js",
                                   std::to_string(source));
    return shown.is_number() ? shown.get<double>() : -1;
}

int screenshots(const fs::path& directory, const std::string& key) {
    TempDir dir;
    Browser browser(dir, 1280, 1000);
    if (!browser.started() || !logIn(browser, key)) return 1;
    std::this_thread::sleep_for(3s);  // the meter and the stream's details
    const std::pair<const char*, const char*> pages[] = {{"", "control-room.png"},
                                                         {"/week", "control-week.png"},
                                                         {"/timeline", "control-look-back.png"}};
    for (const auto& [path, name] : pages) {
        browser.open(kRoom + path);
        std::this_thread::sleep_for(2s);
        std::ofstream(directory / name, std::ios::binary) << browser.screenshot();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--screenshots") return screenshots(argv[2], argv[3]);
    const std::string binary = fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int seconds = argc > 3 ? std::max(5, std::atoi(argv[3])) : 60;
    const std::string mp3 = testMp3();

    const BenchDir dir("control");
    Stream one(dir.path, "One", {}, mp3);
    Stream two(dir.path, "Two", {}, mp3);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n";
    std::ofstream(dir.station / "sourcelist.ini")
        << "1n:One\r\n1u:" << one.url() << "\r\n2n:Two\r\n2u:" << two.url()
        << "\r\n9n:Start\r\n9u:" << one.url() << "?start\r\n";
    const Station running(binary, dir);

    httplib::Client http("127.0.0.1", 1011);
    const auto login = http.Post("/control/login", "key=" + std::string(kKey),
                                 "application/x-www-form-urlencoded");
    const std::string cookie = login ? login->get_header_value("Set-Cookie") : "";
    const httplib::Headers session = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
    for (const auto& [name, path] :
         {std::pair{"control page", "/control"}, std::pair{"week", "/control/week"},
          std::pair{"look back", "/control/timeline"}}) {
        std::printf("BENCH control room page weight, %s (HTML+CSS+JS)\t%.1f KB\t< 100 KB\n", name,
                    static_cast<double>(pageWeight(http, path, session)) / 1024);
    }

    const double idle = cpuPercentOver(running.pid, seconds);
    std::vector<std::unique_ptr<TempDir>> dirs;
    std::vector<std::unique_ptr<Browser>> pages;
    for (int i = 0; i < 3; ++i) {
        dirs.push_back(std::make_unique<TempDir>());
        pages.push_back(std::make_unique<Browser>(*dirs.back(), 1280, 900));
        if (!logIn(*pages.back(), kKey)) std::fprintf(stderr, "page %d did not log in\n", i + 1);
    }
    std::this_thread::sleep_for(3s);
    const double watched = cpuPercentOver(running.pid, seconds);
    std::printf("BENCH station CPU, no page open\t%.2f %% of a core\t-\n", idle);
    std::printf(
        "BENCH station CPU, three control pages open\t%.2f %% of a core (+%.2f)\t"
        "idle + < 0.3 %%\n",
        watched, watched - idle);

    std::vector<double> clicks;
    for (int round = 0; round < rounds; ++round) {
        const double ms = clickToOnAir(*pages.front(), round % 2 == 0 ? 2 : 1);
        if (ms >= 0) clicks.push_back(ms / 1000);
        std::this_thread::sleep_for(3s);
    }
    std::printf("BENCH click to the page showing the source on air, bursting stream\t%s\t-\n",
                summary(clicks).c_str());
    std::printf("BENCH clicks that never showed on air\t%d\t0\n",
                rounds - static_cast<int>(clicks.size()));
    return 0;
}
