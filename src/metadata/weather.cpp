#include "metadata/weather.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "platform/profile_reader.h"
#include "station/waits.h"

namespace kestrel {
namespace {

constexpr const char* kWeatherService = "http://api.openweathermap.org/data/2.5/weather?q=";
constexpr double kZeroCelsiusInKelvin = 273.15;

/// The `width` characters that start `offset` characters after the last
/// occurrence of `key`, padded with blanks past the end of the answer; empty
/// when the key does not occur.
std::string windowAfterLast(const std::string& answer, const std::string& key, std::size_t offset,
                            std::size_t width) {
    const auto at = answer.rfind(key);
    if (at == std::string::npos) return {};
    std::string window = answer.substr(std::min(answer.size(), at + offset), width);
    window.resize(width, ' ');
    return window;
}

std::string before(const std::string& text, char stop) {
    return text.substr(0, text.find(stop));
}

std::optional<std::string> wholeCelsius(const std::string& kelvinText) {
    const double celsius = std::floor(leadingNumber(kelvinText) - kZeroCelsiusInKelvin);
    if (!std::isfinite(celsius)) return std::nullopt;
    char digits[400];
    const auto written =
        std::to_chars(digits, digits + sizeof digits, celsius, std::chars_format::fixed, 0);
    if (written.ec != std::errc()) return std::nullopt;
    return std::string(digits, written.ptr);
}

}  // namespace

std::optional<std::string> weatherSentence(const std::string& answer) {
    const std::string temperatureWindow = windowAfterLast(answer, "{\"temp\":", 8, 8);
    if (temperatureWindow.empty()) return std::nullopt;
    const auto temperature = wholeCelsius(before(temperatureWindow, ','));
    if (!temperature) return std::nullopt;

    const std::string nameWindow = windowAfterLast(answer, "\"name\":", 8, 16);
    const std::string name = nameWindow.size() > 2 ? before(nameWindow, '"') : "";
    const std::string pressureWindow = windowAfterLast(answer, ",\"pressure\":", 12, 6);
    const std::string pressure = pressureWindow.size() > 2 ? before(pressureWindow, ',') : "";
    const bool single = *temperature == "1" || *temperature == "-1";
    return "The temperature in " + name + " is " + *temperature +
           (single ? " degree" : " degrees") + ". Air pressure is " + pressure + ".";
}

Task<> tmrWeather(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    if (state.WeatherCounter == 0) {
        try {
            const FetchResult result = co_await fetchFresh(
                station.platform.weatherFetcher,
                kWeatherService + state.MetaLocation + "&APPID=" + state.MetaOpenWeatherMapKey,
                BodyForm::Text);
            if (result.ok) {
                if (auto sentence = weatherSentence(result.body)) {
                    display.lblWeatherText.caption = std::move(*sentence);
                }
            }
        } catch (...) {
        }
    }
    ++state.WeatherCounter;
    if (state.WeatherCounter > kWeatherPeriod) state.WeatherCounter = 0;
    display.lblWeather.caption =
        "NEXT WEATHER: " + std::to_string((kWeatherPeriod - state.WeatherCounter) / 60) + " mins";
}

}  // namespace kestrel
