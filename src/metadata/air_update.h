#pragma once

#include <string>

#include "station/station.h"

namespace kestrel {

struct ArtistAndTitle {
    std::string artist;
    std::string title;
};

/// Splits a stream title at its first " - " that has at least two characters
/// after it; without one, the whole text is the artist and the title is empty.
ArtistAndTitle splitStreamTitle(const std::string& streamTitle);

/// `value` as a URL query component: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string encodeQueryValue(const std::string& value);

/// Every 5 s when TuneIn AIR is on: reports an artist and title that both
/// differ from the last ones through airFetcher; the tick waits for the answer
/// (up to the fetcher's time-out) before it shows and remembers the pair.
Task<> tmrAirUpdate(Station& station);

}  // namespace kestrel
