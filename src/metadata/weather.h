#pragma once

#include <optional>
#include <string>

#include "station/station.h"

namespace kestrel {

/// Ticks from one weather request to the next, minus one: the counter runs 0..1800.
inline constexpr std::int16_t kWeatherPeriod = 1800;

/// The sentence an OpenWeatherMap answer gives: "The temperature in NAME is
/// T degrees. Air pressure is P.", T in whole degrees Celsius cut downward.
/// Searches the last `{"temp":`, `"name":` and `,"pressure":` of the answer;
/// nullopt when the answer carries no usable temperature.
std::optional<std::string> weatherSentence(const std::string& answer);

/// Every second when the weather is on: the countdown, and every 1801 ticks a
/// request on weatherFetcher whose answer becomes the weather sentence. The
/// tick waits for the answer (up to the fetcher's time-out) before counting;
/// a failed request keeps the previous sentence.
Task<> tmrWeather(Station& station);

}  // namespace kestrel
