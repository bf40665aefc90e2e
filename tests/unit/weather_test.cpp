#include "metadata/weather.h"

#include <gtest/gtest.h>

#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

std::string answerWith(const std::string& kelvin, const std::string& name = "Leeds",
                       const std::string& pressure = "1012") {
    return R"({"coord":{"lon":-1.55,"lat":53.8},"main":{"temp":)" + kelvin +
           R"(,"feels_like":277.1,"pressure":)" + pressure + R"(,"humidity":81},"name":")" + name +
           R"(","cod":200})";
}

TEST(Weather, KelvinIsCutDownToWholeDegreesCelsius) {
    const struct {
        const char* kelvin;
        const char* degrees;
    } cases[] = {
        {"280.32", "7 degrees"},  {"274.15", "1 degree"},  {"272.15", "-1 degree"},
        {"273.15", "0 degrees"},  {"273.0", "-1 degree"},  {"300.0", "26 degrees"},
        {"275.15", "2 degrees"},  {"0", "-274 degrees"},   {"2.8032e2", "7 degrees"},
        {" 280.32", "7 degrees"}, {"-10", "-284 degrees"}, {"abc", "-274 degrees"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            weatherSentence(answerWith(c.kelvin)),
            std::string("The temperature in Leeds is ") + c.degrees + ". Air pressure is 1012.")
            << c.kelvin;
    }
}

TEST(Weather, FieldsAreCutFromFixedWindows) {
    const struct {
        std::string answer;
        std::string sentence;
    } cases[] = {
        {answerWith("280.32", "Llanfairpwllgwyngyll"),
         "The temperature in Llanfairpwllgwyn is 7 degrees. Air pressure is 1012."},
        {R"({"temp":280.32})", "The temperature in  is 7 degrees. Air pressure is ."},
        {R"({"temp":280.32},"pressure":1012})",
         "The temperature in  is 7 degrees. Air pressure is 1012} ."},
        {R"({"temp":1,"name":"A"}{"temp":280.32,"name":"B"})",
         "The temperature in B is 7 degrees. Air pressure is ."},
        {R"(x,"pressure":1012345,{"temp":280.32)",
         "The temperature in  is 7 degrees. Air pressure is 101234."},
        {R"({"temp":280.32,"name":)",
         "The temperature in " + std::string(16, ' ') + " is 7 degrees. Air pressure is ."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(weatherSentence(c.answer), c.sentence) << c.answer;
}

TEST(Weather, AnAnswerWithoutTheTemperatureBuildsNoSentence) {
    for (const std::string answer :
         {"", R"({"cod":401,"message":"Invalid API key"})", R"("temp":280.32,"name":"Leeds")"}) {
        EXPECT_EQ(weatherSentence(answer), std::nullopt) << answer;
    }
}

/// A station with the weather on, its service answering `answer`.
struct WeatherStation {
    explicit WeatherStation(FetchResult answer) {
        host.state().MetaLocation = "Leeds,uk";
        host.state().MetaOpenWeatherMapKey = "abc123";
        host.weatherFetcher.respond = [this](const std::string&) { return this->answer; };
        this->answer = std::move(answer);
    }
    void tick() { host.finish(tmrWeather(host.station())); }

    SimHost host;
    FetchResult answer;
};

TEST(Weather, TheFirstTickRequestsAndTheCountdownFollows) {
    WeatherStation w(FakeFetcher::ok(answerWith("280.32")));
    w.host.weatherFetcher.busyAnswer = true;
    w.tick();
    ASSERT_EQ(w.host.weatherFetcher.requests.size(), 1u);
    EXPECT_EQ(w.host.weatherFetcher.requests[0].url,
              "http://api.openweathermap.org/data/2.5/weather?q=Leeds,uk&APPID=abc123");
    EXPECT_EQ(w.host.weatherFetcher.requests[0].form, BodyForm::Text);
    EXPECT_EQ(w.host.weatherFetcher.cancels, 1);
    EXPECT_EQ(w.host.display().lblWeatherText.caption,
              "The temperature in Leeds is 7 degrees. Air pressure is 1012.");
    EXPECT_EQ(w.host.display().lblWeather.caption, "NEXT WEATHER: 29 mins");
    EXPECT_EQ(w.host.state().WeatherCounter, 1);
}

TEST(Weather, RequestsEvery1801Ticks) {
    WeatherStation w(FakeFetcher::ok(answerWith("280.32")));
    const struct {
        std::int16_t counterBefore;
        std::int16_t counterAfter;
        const char* countdown;
        std::size_t requests;
    } steps[] = {
        {1739, 1740, "NEXT WEATHER: 1 mins", 0}, {1740, 1741, "NEXT WEATHER: 0 mins", 0},
        {1799, 1800, "NEXT WEATHER: 0 mins", 0}, {1800, 0, "NEXT WEATHER: 30 mins", 0},
        {0, 1, "NEXT WEATHER: 29 mins", 1},
    };
    for (const auto& s : steps) {
        w.host.state().WeatherCounter = s.counterBefore;
        w.tick();
        EXPECT_EQ(w.host.state().WeatherCounter, s.counterAfter) << s.counterBefore;
        EXPECT_EQ(w.host.display().lblWeather.caption, s.countdown) << s.counterBefore;
        EXPECT_EQ(w.host.weatherFetcher.requests.size(), s.requests) << s.counterBefore;
    }
}

TEST(Weather, AFailedOrUselessAnswerKeepsThePreviousSentence) {
    for (const FetchResult& bad : {FakeFetcher::failed(), FakeFetcher::ok(""),
                                   FakeFetcher::ok(R"({"cod":"404","message":"x"})", 404)}) {
        WeatherStation w(FakeFetcher::ok(answerWith("274.15")));
        w.tick();
        w.answer = bad;
        w.host.state().WeatherCounter = 0;
        w.tick();
        EXPECT_EQ(w.host.display().lblWeatherText.caption,
                  "The temperature in Leeds is 1 degree. Air pressure is 1012.");
        EXPECT_EQ(w.host.display().lblWeather.caption, "NEXT WEATHER: 29 mins");
    }
}

TEST(Weather, TheSentenceAlternatesWithTheNowPlayingLineInMetaextra) {
    SimHost host;
    host.write("kestrelfield.ini",
               "[Kestrelfield]\r\nMetaWeather=1\r\nMetaLocation=Leeds\r\n"
               "MetaOpenWeatherMapKey=k\r\nDefaultStrapline=Kestrel FM\r\n"
               "ExtraMetaNowPlaying=Now:\r\n");
    host.write("sourcelist.ini", "9n:Nine\r\n9u:http://nine.example/live\r\n");
    host.weatherFetcher.respond = [](const std::string&) {
        return FakeFetcher::ok(answerWith("280.32"));
    };
    const std::string sentence = "The temperature in Leeds is 7 degrees. Air pressure is 1012.";
    host.start();
    int weatherTicks = 0;
    int nowPlayingTicks = 0;
    for (int second = 0; second < 300; ++second) {
        const int before = host.fired["tmrGetMetadata"];
        host.runFor(1);
        if (host.fired["tmrGetMetadata"] == before) continue;
        const bool weatherMinute = host.state().TimerCount > 60;
        EXPECT_EQ(host.read("metaextra.txt"),
                  (weatherMinute ? sentence : "Now: Kestrel FM") + std::string("\r\n"))
            << "TimerCount " << host.state().TimerCount;
        ++(weatherMinute ? weatherTicks : nowPlayingTicks);
    }
    EXPECT_GT(weatherTicks, 0);
    EXPECT_GT(nowPlayingTicks, 0);
    EXPECT_EQ(host.weatherFetcher.requests.size(), 1u);
}

}  // namespace
}  // namespace kestrel
