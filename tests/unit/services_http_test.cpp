#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "metadata/air_update.h"
#include "metadata/weather.h"
#include "monitoring/failure_detector.h"
#include "support/loopback_server.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::LoopbackServer;
using test::SimHost;

/// Answers `body` with `status`, after `delay`.
httplib::Server::Handler answer(int status, std::string body,
                                std::chrono::milliseconds delay = {}) {
    return [=](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(delay);
        response.status = status;
        if (!body.empty()) response.set_content(body, "text/plain");
    };
}

TEST(HealthCheckHttp, AServerThatAnswersWithABodyIsUp) {
    using namespace std::chrono_literals;
    const struct {
        const char* name;
        httplib::Server::Handler handler;
        bool up;
    } cases[] = {
        {"body", answer(200, "OK"), true},
        {"empty body", answer(200, ""), false},
        {"404 with a body", answer(404, "Not Found"), true},
        {"connection refused", nullptr, false},
        {"slower than the time-out", answer(200, "late", 1500ms), false},
    };
    for (const auto& c : cases) {
        LoopbackServer server;
        if (c.handler) server.http.Get("/testonline/", c.handler);
        server.start();
        test::LiveTransfers transfers;
        CurlFetcher curl{transfers.multi, 1};
        SimHost host;
        test::routeThroughCurl(host.sourceCheckFetcher, transfers, curl);
        const std::string stream =
            c.handler ? server.url("/live/stream.mp3") : test::unreachableUrl("/live/stream.mp3");
        host.display().lblCurrentSource.caption = stream;

        host.finish(tmrSourceCheck(host.station()));
        EXPECT_EQ(host.display().lblFail.background, c.up ? kGreen : kRed) << c.name;
        EXPECT_EQ(host.display().lblFailText.caption,
                  c.up ? "SERVER OK" : "SERVER OR LINK FAILURE - FIRST CHECK")
            << c.name;
        EXPECT_EQ(host.display().lblFailURL.caption, testAddressOf(stream)) << c.name;
        if (c.handler) {
            EXPECT_EQ(server.targets(), std::vector<std::string>{"/testonline/"}) << c.name;
        }
    }
}

/// A loopback server standing in for a fixed service host, and a station
/// whose fetcher for that service reaches it through libcurl.
struct ServiceHost {
    ServiceHost(test::FakeFetcher SimHost::*fetcher, const std::string& serviceHost) {
        server.http.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex);
            params.push_back(request.params);
            response.set_content(body, "application/json");
        });
        server.start();
        test::routeThroughCurl(host.*fetcher, transfers, curl, serviceHost, server.url());
    }

    std::mutex mutex;
    std::string body = "ok";
    std::vector<httplib::Params> params;
    LoopbackServer server;
    test::LiveTransfers transfers;
    CurlFetcher curl{transfers.multi, 5};
    SimHost host;
};

TEST(AirUpdateHttp, SendsTheChangedPairWithArtistAndTitleEncoded) {
    ServiceHost air(&SimHost::airFetcher, "http://air.radiotime.com");
    auto& s = air.host.state();
    s.AIRpartnerid = "P1";
    s.AIRpartnerkey = "secret";
    s.AIRid = "s12345";
    s.AIRdefaultTitle = "Kestrel FM";
    s.AIRdefaultArtist = "Kestrel";
    for (const char* streamTitle :
         {"Artist - Song - Remix", "AB - C", "AB - C", "Simon & Garfunkel - Bridge = Water"}) {
        air.host.display().lblRXmetadata.caption = streamTitle;
        air.host.finish(tmrAirUpdate(air.host.station()));
    }
    const std::string prefix = "/Playing.ashx?partnerId=P1&partnerKey=secret&id=s12345";
    EXPECT_EQ(air.server.targets(),
              (std::vector<std::string>{
                  prefix + "&title=Song%20-%20Remix&artist=Artist",
                  prefix + "&title=Kestrel%20FM&artist=Kestrel",
                  prefix + "&title=Bridge%20%3D%20Water&artist=Simon%20%26%20Garfunkel",
              }));
    std::lock_guard lock(air.mutex);
    ASSERT_EQ(air.params.size(), 3u);
    const auto& last = air.params.back();
    EXPECT_EQ(last.find("artist")->second, "Simon & Garfunkel");
    EXPECT_EQ(last.find("title")->second, "Bridge = Water");
    EXPECT_EQ(last.count("Garfunkel"), 0u);
}

TEST(WeatherHttp, TheAnswerBecomesTheSentence) {
    const struct {
        const char* temp;
        const char* degrees;
    } cases[] = {
        {"280.32,", "7 degrees"},  {"274.15,", "1 degree"}, {"272.15,", "-1 degree"},
        {"273.15,", "0 degrees"},  {"273.0,", "-1 degree"}, {"300.0,", "26 degrees"},
        {"280.32},", "7 degrees"},
    };
    ServiceHost weather(&SimHost::weatherFetcher, "http://api.openweathermap.org");
    weather.host.state().MetaLocation = "Leeds,uk";
    weather.host.state().MetaOpenWeatherMapKey = "abc123";
    for (const auto& c : cases) {
        {
            std::lock_guard lock(weather.mutex);
            weather.body = std::string(R"({"main":{"temp":)") + c.temp +
                           R"("pressure":1012,"x":1},"name":"Leeds","cod":200})";
        }
        weather.host.state().WeatherCounter = 0;
        weather.host.finish(tmrWeather(weather.host.station()));
        EXPECT_EQ(
            weather.host.display().lblWeatherText.caption,
            std::string("The temperature in Leeds is ") + c.degrees + ". Air pressure is 1012.")
            << c.temp;
    }
    EXPECT_EQ(weather.server.targets().front(), "/data/2.5/weather?q=Leeds,uk&APPID=abc123");
}

}  // namespace
}  // namespace kestrel
