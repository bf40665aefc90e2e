#include "metadata/now_playing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/sim_host.h"

namespace kestrel {
namespace {

std::string icyLine(const std::string& title) {
    return "\nICY Info: StreamTitle='" + title + "';StreamUrl='';\n";
}

/// A station whose slot 1 is on air, and the metadata tick under test.
struct Metadata {
    Metadata() {
        state().DefaultStrapline = "Kestrel FM";
        state().ExtraMetaNowPlaying = "OFF";
        state().CurrentMplayer = 1;
    }
    StationState& state() { return host.state(); }
    DisplayModel& display() { return host.display(); }
    void tick() { nowPlaying.tmrGetMetadata(); }
    std::string metadata() const { return host.read("metadata.txt"); }
    std::string metaextra() const { return host.read("metaextra.txt"); }

    test::SimHost host;
    NowPlaying nowPlaying{host.station()};
};

TEST(NowPlaying, TitleBecomesTheNowPlayingLineWhenLongerThanSixCharacters) {
    struct Case {
        std::string log;
        std::string expected;
    } cases[] = {
        {icyLine("Artist - Song"), "Artist - Song"},
        {icyLine("Seven77"), "Seven77"},
        {icyLine("Six666"), "Kestrel FM"},
        {icyLine("Song"), "Kestrel FM"},
        {icyLine(" - Song Name"), "Song Name"},
        {icyLine("Artist - "), "Artist - "},
        {icyLine("First - One") + icyLine("Second - Two"), "Second - Two"},
        {"Name   : No titles here\n", "Kestrel FM"},
    };
    for (const auto& c : cases) {
        Metadata m;
        m.host.write("mplayer1.log", c.log);
        m.tick();
        EXPECT_EQ(m.metadata(), c.expected + "\r\n") << c.log;
        EXPECT_EQ(m.display().lblMetadataOutput.caption, c.expected);
        EXPECT_EQ(m.metaextra(), c.expected + "\r\n");
    }
}

TEST(NowPlaying, ShowsTheStreamDetailsOfTheRealPlayerLog) {
    Metadata m;
    m.host.write("mplayer1.log",
                 "Name   : Kestrelfield Test Stream\nGenre  : Test\nWebsite: http://127.0.0.1/\n"
                 "Public : yes\nBitrate: 128kbit/s\n\rCache fill:  0.00% (0 bytes)   \n"
                 "ICY Info: StreamTitle='Song';StreamUrl='';\n"
                 "Selected audio codec: [mpg123] afm: mpg123\n");
    m.tick();
    const auto& d = m.display();
    EXPECT_EQ(d.lblStreamName.caption, "Kestrelfield Test Stream");
    EXPECT_EQ(d.lblStreamGenre.caption, "Test");
    EXPECT_EQ(d.lblStreamWebsite.caption, "http://127.0.0.1/");
    EXPECT_EQ(d.lblStreamPublic.caption, "yes");
    EXPECT_EQ(d.lblStreamBitrate.caption, "128kbit/s");
    EXPECT_EQ(d.lblStreamCodec.caption, "[mpg123] afm: mpg123");
    EXPECT_EQ(d.lblRXmetadata.caption, "Song");
    EXPECT_EQ(m.metadata(), "Kestrel FM\r\n");
}

TEST(NowPlaying, ExtraLineTakesTheLeadInUnlessTheExceptionTextMatches) {
    struct Case {
        std::string leadIn;
        std::string exception;
        std::string line;
        std::string expected;
    } cases[] = {
        {"Now playing:", "", "Artist - Song", "Now playing: Artist - Song"},
        {"OFF", "", "Artist - Song", "Artist - Song"},
        {"off", "", "Artist - Song", "off Artist - Song"},
        {"", "", "Artist - Song", " Artist - Song"},
        {"/srv/station", "", "Artist - Song", "/srv/station Artist - Song"},
        {"On air:", "News", "Hourly News", "Hourly News"},
        {"On air:", "News", "News", "On air: News"},
        {"On air:", "News", "A News", "On air: A News"},
        {"On air:", "News", "Ab News", "Ab News"},
        {"On air:", "News", "news bulletin", "On air: news bulletin"},
        {"On air:", "N", "Nightly News", "On air: Nightly News"},
        {"OFF", "News", "Some News", "Some News"},
    };
    for (const auto& c : cases) {
        StationState state;
        state.ExtraMetaNowPlaying = c.leadIn;
        state.DoNotPrefixWhenContains = c.exception;
        EXPECT_EQ(extraLine(c.line, state, "NO WEATHER"), c.expected)
            << c.leadIn << " | " << c.exception << " | " << c.line;
    }
}

TEST(NowPlaying, WeatherSentenceTakesTheExtraFileAfterMinuteOne) {
    const std::string sentence = "Sunny and 21 degrees in Leeds";
    struct Case {
        std::string metaWeather;
        std::string weather;
        std::int16_t timerCount;
        bool weatherShown;
    } cases[] = {
        {"1", sentence, 61, true},  {"1", sentence, 120, true},     {"1", sentence, 60, false},
        {"1", sentence, 0, false},  {"1", "NO WEATHER", 61, false}, {"1", "Rain 11 deg", 61, true},
        {"0", sentence, 61, false}, {"", sentence, 100, false},
    };
    for (const auto& c : cases) {
        Metadata m;
        m.state().ExtraMetaNowPlaying = "Now:";
        m.state().MetaWeather = c.metaWeather;
        m.state().TimerCount = c.timerCount;
        m.display().lblWeatherText.caption = c.weather;
        m.host.write("mplayer1.log", icyLine("Artist - Song"));
        m.tick();
        const std::string expected = c.weatherShown ? c.weather : "Now: Artist - Song";
        EXPECT_EQ(m.metaextra(), expected + "\r\n") << c.weather << " at " << c.timerCount;
        EXPECT_EQ(m.display().lblMetadataExtra.caption, expected);
        EXPECT_EQ(m.metadata(), "Artist - Song\r\n");
    }
}

TEST(NowPlaying, NothingIsReadBeforeTheFirstSwitch) {
    Metadata m;
    m.state().CurrentMplayer = 0;
    m.state().ExtraMetaNowPlaying = "Now:";
    m.host.write("mplayer1.log", icyLine("Artist - Song"));
    m.tick();
    EXPECT_EQ(m.display().lblRXmetadata.caption, "None");
    EXPECT_EQ(m.metadata(), "Kestrel FM\r\n");
    EXPECT_EQ(m.metaextra(), "Now: Kestrel FM\r\n");
}

TEST(NowPlaying, FieldsOfTheEarlierStreamStayUntilTheNewOneSendsItsOwn) {
    Metadata m;
    m.host.write("mplayer1.log", "Name   : Old Station\nGenre  : Rock\n" + icyLine("Old - Song"));
    m.tick();
    m.state().CurrentMplayer = 2;
    m.host.write("mplayer2.log", "Name   : New Station\n");
    m.tick();
    EXPECT_EQ(m.display().lblStreamName.caption, "New Station");
    EXPECT_EQ(m.display().lblStreamGenre.caption, "Rock");
    EXPECT_EQ(m.metadata(), "Old - Song\r\n");

    std::filesystem::remove(m.host.dir.path() / "mplayer2.log");
    m.tick();
    EXPECT_EQ(m.display().lblStreamName.caption, "New Station");
    EXPECT_EQ(m.metadata(), "Old - Song\r\n");
}

TEST(NowPlaying, ASwitchBackToTheSameSlotReadsItsNewLogFromTheTop) {
    Metadata m;
    m.host.write("mplayer1.log", "Name   : First\n" + std::string(6000, '.') + "\n");
    m.tick();
    m.state().CurrentMplayer = 2;
    m.tick();
    m.state().CurrentMplayer = 1;
    m.host.write("mplayer1.log",
                 "Genre  : Again\n" + std::string(7000, '.') + "\nName   : Third\n");
    m.tick();
    EXPECT_EQ(m.display().lblStreamName.caption, "Third");
    EXPECT_EQ(m.display().lblStreamGenre.caption, "Again");
}

TEST(NowPlaying, TicksOnAGrowingLogEndAsAFullReadDoes) {
    Metadata m;
    Metadata reference;  // a fresh tick reads the whole log
    const std::string pieces[] = {
        "Name   : A\n\rCache fill: 1%",      "\rCache fill: 2%\nICY Info: StreamTitle='Ar",
        "tist - Song';StreamUrl='';\r",      "\nGenre  : G\r\n",
        "ICY Info: StreamTitle='Other Song", "';\n",
    };
    std::string log;
    for (const auto& piece : pieces) {
        log += piece;
        m.host.write("mplayer1.log", log);
        m.tick();
        reference.host.write("mplayer1.log", log);
        NowPlaying(reference.host.station()).tmrGetMetadata();
        EXPECT_EQ(m.display().lblRXmetadata.caption, reference.display().lblRXmetadata.caption);
        EXPECT_EQ(m.display().lblStreamGenre.caption, reference.display().lblStreamGenre.caption);
        EXPECT_EQ(m.metadata(), reference.metadata()) << log;
    }
    EXPECT_EQ(m.metadata(), "Other Song\r\n");
}

TEST(NowPlaying, AFileThatCannotBeWrittenDoesNotStopTheTick) {
    Metadata m;
    m.state().ExtraMetaNowPlaying = "Now:";
    std::filesystem::create_directory(m.host.dir.path() / "metadata.txt");
    m.host.write("mplayer1.log", icyLine("Artist - Song"));
    m.tick();
    EXPECT_TRUE(std::filesystem::is_directory(m.host.dir.path() / "metadata.txt"));
    EXPECT_EQ(m.display().lblMetadataOutput.caption, "Artist - Song");
    EXPECT_EQ(m.metaextra(), "Now: Artist - Song\r\n");
}

TEST(NowPlaying, ALogThatCannotBeReadKeepsTheFieldsAndStillWritesTheFiles) {
    Metadata m;
    m.host.write("mplayer1.log", icyLine("Artist - Song"));
    m.tick();
    std::filesystem::remove(m.host.dir.path() / "mplayer1.log");
    std::filesystem::create_directory(m.host.dir.path() / "mplayer1.log");
    std::filesystem::remove(m.host.dir.path() / "metadata.txt");
    m.tick();
    EXPECT_EQ(m.display().lblRXmetadata.caption, "Artist - Song");
    EXPECT_EQ(m.metadata(), "Artist - Song\r\n");
}

TEST(NowPlaying, ReadersNeverSeeAnEmptyOrHalfWrittenFile) {
    Metadata m;
    const std::string first = "First Artist - " + std::string(3000, 'a');
    const std::string second = "Second Artist - " + std::string(5000, 'b');
    m.host.write("mplayer1.log", icyLine(first));
    m.tick();
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done) {
            std::ifstream in(m.host.dir.path() / "metadata.txt", std::ios::binary);
            const std::string text{std::istreambuf_iterator<char>(in), {}};
            if (text != first + "\r\n" && text != second + "\r\n") ++bad;
        }
    });
    for (int i = 0; i < 150; ++i) {
        m.host.write("mplayer1.log", icyLine(i % 2 ? first : second));
        m.tick();
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace kestrel
