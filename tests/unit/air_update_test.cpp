#include "metadata/air_update.h"

#include <gtest/gtest.h>

#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kAirPrefix =
    "http://air.radiotime.com/Playing.ashx?partnerId=P1&partnerKey=secret&id=s12345";

TEST(AirUpdate, SplitsAtTheFirstSeparatorWithATitleBehindIt) {
    const struct {
        const char* streamTitle;
        const char* artist;
        const char* title;
    } cases[] = {
        {"Artist - Song", "Artist", "Song"},
        {"Artist - Song - Remix", "Artist", "Song - Remix"},
        {"AB - C", "AB - C", ""},
        {"AB - CD", "AB", "CD"},
        {" - Song", "", "Song"},
        {"None", "None", ""},
        {"Artist-Song", "Artist-Song", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const auto split = splitStreamTitle(c.streamTitle);
        EXPECT_EQ(split.artist, c.artist) << c.streamTitle;
        EXPECT_EQ(split.title, c.title) << c.streamTitle;
    }
}

TEST(AirUpdate, EncodesEverythingButUnreservedCharacters) {
    EXPECT_EQ(encodeQueryValue("Simon & Garfunkel"), "Simon%20%26%20Garfunkel");
    EXPECT_EQ(encodeQueryValue("a=b?c#d+e%f/g"), "a%3Db%3Fc%23d%2Be%25f%2Fg");
    EXPECT_EQ(encodeQueryValue("Az09-._~"), "Az09-._~");
    EXPECT_EQ(encodeQueryValue("Caf\xe9"), "Caf%E9");
}

/// A station with TuneIn AIR on; each tick reports the given stream title.
struct Air {
    Air() {
        auto& s = host.state();
        s.AIRpartnerid = "P1";
        s.AIRpartnerkey = "secret";
        s.AIRid = "s12345";
        s.AIRdefaultTitle = "Kestrel FM";
        s.AIRdefaultArtist = "Station";
        host.airFetcher.respond = [](const std::string&) { return FakeFetcher::ok("ok"); };
    }
    /// The request the tick sent, or "" when it sent none.
    std::string tick(const std::string& streamTitle) {
        host.display().lblRXmetadata.caption = streamTitle;
        const auto before = host.airFetcher.requests.size();
        host.finish(tmrAirUpdate(host.station()));
        if (host.airFetcher.requests.size() == before) return "";
        EXPECT_EQ(host.airFetcher.requests.size(), before + 1);
        EXPECT_EQ(host.airFetcher.requests.back().form, BodyForm::Text);
        return host.airFetcher.requests.back().url;
    }

    SimHost host;
};

TEST(AirUpdate, SendsOnlyWhenBothArtistAndTitleChange) {
    Air a;
    const struct {
        const char* streamTitle;
        std::string sent;
    } steps[] = {
        {"None", ""},
        {"Artist - Song", "&title=Song&artist=Artist"},
        {"Artist - Song", ""},
        {"Artist - Other Song", ""},
        {"Other Artist - Song", ""},
        {"Other Artist - Other Song", "&title=Other%20Song&artist=Other%20Artist"},
        {"Jingle", "&title=Kestrel%20FM&artist=Station"},
        {"Jingle", ""},
        {"Advert", ""},
        {"Simon & Garfunkel - A=B", "&title=A%3DB&artist=Simon%20%26%20Garfunkel"},
    };
    for (const auto& s : steps) {
        const std::string url = a.tick(s.streamTitle);
        EXPECT_EQ(url, s.sent.empty() ? "" : kAirPrefix + s.sent) << s.streamTitle;
    }
}

TEST(AirUpdate, LabelsShowThePairSentAndTheTime) {
    Air a;
    a.host.clock.set(2026, 12, 7, 14, 5, 9);
    a.tick("Artist - Song");
    EXPECT_EQ(a.host.display().lblAIRartist.caption, "Artist");
    EXPECT_EQ(a.host.display().lblAIRtitle.caption, "Song");
    EXPECT_EQ(a.host.display().lblAIRupdated.caption, "14:05:09");

    a.tick("Station ident");
    EXPECT_EQ(a.host.display().lblAIRartist.caption, "Station");
    EXPECT_EQ(a.host.display().lblAIRtitle.caption, "Kestrel FM");
    EXPECT_EQ(a.host.state().AIRLastArtist, "Station ident");
    EXPECT_EQ(a.host.state().AIRLastTitle, "");
}

TEST(AirUpdate, AFailedRequestIsNotRepeated) {
    Air a;
    a.host.airFetcher.respond = [](const std::string&) { return FakeFetcher::failed(); };
    a.host.airFetcher.busyAnswer = true;
    EXPECT_NE(a.tick("Artist - Song"), "");
    EXPECT_EQ(a.host.airFetcher.cancels, 1);
    EXPECT_EQ(a.host.display().lblAIRartist.caption, "Artist");
    EXPECT_EQ(a.tick("Artist - Song"), "");
}

}  // namespace
}  // namespace kestrel
