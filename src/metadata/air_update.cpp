#include "metadata/air_update.h"

#include "station/time_format.h"
#include "station/waits.h"

namespace kestrel {
namespace {

constexpr const char* kAirService = "http://air.radiotime.com/Playing.ashx?partnerId=";
constexpr const char* kSeparator = " - ";
constexpr std::size_t kSeparatorLength = 3;
constexpr std::size_t kShortestTitle = 2;

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

ArtistAndTitle splitStreamTitle(const std::string& streamTitle) {
    const auto at = streamTitle.find(kSeparator);
    if (at == std::string::npos || streamTitle.size() - at - kSeparatorLength < kShortestTitle) {
        return {streamTitle, ""};
    }
    return {streamTitle.substr(0, at), streamTitle.substr(at + kSeparatorLength)};
}

std::string encodeQueryValue(const std::string& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte)) {
            encoded.push_back(c);
        } else {
            encoded += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
    }
    return encoded;
}

Task<> tmrAirUpdate(Station& station) {
    auto& state = station.state;
    auto& display = station.display;
    const ArtistAndTitle split = splitStreamTitle(display.lblRXmetadata.caption);
    if (split.title == state.AIRLastTitle || split.artist == state.AIRLastArtist) co_return;

    ArtistAndTitle sent = split;
    if (split.artist.empty() || split.title.empty()) {
        sent = {state.AIRdefaultArtist, state.AIRdefaultTitle};
    }
    // Artist and title are free text: "&" or "=" in them must not cut the query.
    const std::string url = kAirService + state.AIRpartnerid +
                            "&partnerKey=" + state.AIRpartnerkey + "&id=" + state.AIRid +
                            "&title=" + encodeQueryValue(sent.title) +
                            "&artist=" + encodeQueryValue(sent.artist);
    try {
        co_await fetchFresh(station.platform.airFetcher, url, BodyForm::Text);
    } catch (...) {
    }

    display.lblAIRartist.caption = sent.artist;
    display.lblAIRtitle.caption = sent.title;
    display.lblAIRupdated.caption = formatTime(station.now());
    state.AIRLastArtist = split.artist;
    state.AIRLastTitle = split.title;
}

}  // namespace kestrel
