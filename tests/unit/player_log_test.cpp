#include "metadata/player_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "metadata/player_log_reader.h"
#include "platform/text_lines.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

// What one pass over the whole log yields, line by line.
PlayerLogFields fullRead(const std::string& log) {
    PlayerLogFields fields;
    std::istringstream in(log);
    forEachLine(in, [&](std::string_view line) {
        parsePlayerLogLine(line, fields);
        return true;
    });
    return fields;
}

std::string cacheFill(int segments) {
    std::string text;
    for (int i = 0; i < segments; ++i) {
        text += "\rCache fill: " + std::to_string(i % 100) + ".00% (" + std::to_string(i * 977) +
                " bytes)   ";
    }
    return text;
}

// A log as MPlayer 1.5 writes it with -quiet: LF lines, CR-separated cache
// status segments, each ICY line after an empty line.
std::string realLog() {
    return "MPlayer UNKNOWN-12 (C) 2000-2023 MPlayer Team\n"
           "Failed to open LIRC support. You will not be able to use your remote control.\n"
           "\n"
           "Playing http://127.0.0.1:33653/stream.\n"
           "Connecting to server 127.0.0.1[127.0.0.1]: 33653...\n"
           "\n"
           "Name   : Kestrelfield Test Stream\n"
           "Genre  : Test\n"
           "Website: http://127.0.0.1/\n"
           "Public : yes\n"
           "Bitrate: 128kbit/s\n"
           "Cache size set to 320 KBytes\n" +
           cacheFill(50) +
           "\n"
           "ICY Info: StreamTitle='Alpha Artist - First Song';StreamUrl='';\n"
           "\n\n"
           "Audio only file format detected.\n"
           "Opening audio decoder: [mpg123] MPEG 1.0/2.0/2.5 layers I, II, III\n"
           "Selected audio codec: [mpg123] afm: mpg123 (MPEG 1.0/2.0/2.5 layers I, II, III)\n"
           "Starting playback...\n"
           "\n"
           "ICY Info: StreamTitle='Beta Band - Don't Stop';StreamUrl='';\n";
}

TEST(PlayerLog, LinesSetTheFieldOfTheirPrefix) {
    struct Case {
        std::string line;
        std::optional<std::string> PlayerLogFields::*field;
        std::optional<std::string> expected;
    } cases[] = {
        {"Name   : Radio One", &PlayerLogFields::name, "Radio One"},
        {"Genre  : Jazz", &PlayerLogFields::genre, "Jazz"},
        {"Website: http://example.org/", &PlayerLogFields::website, "http://example.org/"},
        {"Public : no", &PlayerLogFields::publicFlag, "no"},
        {"Bitrate: 128kbit/s", &PlayerLogFields::bitrate, "128kbit/s"},
        {"Selected audio codec: [mpg123] afm: mpg123", &PlayerLogFields::codec,
         "[mpg123] afm: mpg123"},
        {"Name   : ", &PlayerLogFields::name, ""},
        {"Starting playback...", &PlayerLogFields::playbackStarted, ""},
        {"Starting playback", &PlayerLogFields::playbackStarted, std::nullopt},
        {"name   : Radio One", &PlayerLogFields::name, std::nullopt},
        {"Name  : Radio One", &PlayerLogFields::name, std::nullopt},
        {" Name   : Radio One", &PlayerLogFields::name, std::nullopt},
        {"Name   :Radio", &PlayerLogFields::name, std::nullopt},
        {"Genre: Jazz", &PlayerLogFields::genre, std::nullopt},
        // The stream title ends at the first "';" after the prefix.
        {"ICY Info: StreamTitle='Artist - Song';StreamUrl='';", &PlayerLogFields::title,
         "Artist - Song"},
        {"ICY Info: StreamTitle='Artist - Song';", &PlayerLogFields::title, "Artist - Song"},
        {"ICY Info: StreamTitle='Guns N' Roses - Don't Cry';StreamUrl='';", &PlayerLogFields::title,
         "Guns N' Roses - Don't Cry"},
        {"ICY Info: StreamTitle='';StreamUrl='';", &PlayerLogFields::title, ""},
        // Without "';" the rest loses its last two characters, or is kept whole under two.
        {"ICY Info: StreamTitle='Artist - Song'x", &PlayerLogFields::title, "Artist - Song"},
        {"ICY Info: StreamTitle='Cut off", &PlayerLogFields::title, "Cut o"},
        {"ICY Info: StreamTitle='ab", &PlayerLogFields::title, ""},
        {"ICY Info: StreamTitle='a", &PlayerLogFields::title, "a"},
        {"ICY Info: StreamTitle='", &PlayerLogFields::title, ""},
        {"ICY Info: StreamTitle=\"Song\";", &PlayerLogFields::title, std::nullopt},
        {"AUDIO: 48000 Hz, 2 ch, s16le, 128.0 kbit/8.33%", &PlayerLogFields::audioFormat,
         "48000 Hz, 2 ch, s16le, 128.0 kbit/8.33%"},
    };
    for (const auto& c : cases) {
        PlayerLogFields fields;
        parsePlayerLogLine(c.line, fields);
        EXPECT_EQ(fields.*c.field, c.expected) << c.line;
    }
}

TEST(PlayerLog, CountsUnderrunsAndSoundDeviceFailuresAndReadsTheRate) {
    PlayerLogParser parser;
    parser.feed(
        "[AO_ALSA] Playback open error: No such file or directory\n"
        "Could not open/initialize audio device -> no sound.\nAudio: no sound\n"
        "[AO_ALSA] Cannot get pcm status: No such device\rAudio device got stuck!\n"
        "Cache empty, consider increasing -cache\n Could not open/initialize audio device\n");
    const PlayerLogFields fields = parser.fields();
    EXPECT_EQ(fields.outputOpenFailures, 1u);
    EXPECT_EQ(fields.outputStuckLines, 2u);
    EXPECT_EQ(fields.cacheEmptyLines, 1u);
    for (const auto& [text, rate] : {std::pair{"44100 Hz, 2 ch", 44100},
                                     {"8000 Hz", 8000},
                                     {"44100Hz", 0},
                                     {"Hz", 0},
                                     {"99999999999 Hz", 0}})
        EXPECT_EQ(sampleRateOf(text), rate) << text;
}

TEST(PlayerLog, RealPlayerLogGivesTheLastValueOfEachField) {
    const PlayerLogFields fields = fullRead(realLog());
    EXPECT_EQ(fields.name, "Kestrelfield Test Stream");
    EXPECT_EQ(fields.genre, "Test");
    EXPECT_EQ(fields.website, "http://127.0.0.1/");
    EXPECT_EQ(fields.publicFlag, "yes");
    EXPECT_EQ(fields.bitrate, "128kbit/s");
    EXPECT_EQ(fields.codec, "[mpg123] afm: mpg123 (MPEG 1.0/2.0/2.5 layers I, II, III)");
    EXPECT_EQ(fields.title, "Beta Band - Don't Stop");

    PlayerLogParser parser;
    parser.feed(realLog());
    EXPECT_EQ(parser.fields(), fields);
}

TEST(PlayerLog, ParsingInPiecesEqualsOneFullRead) {
    const std::string logs[] = {
        realLog(),
        "Name   : A\r\nName   : B\r\n\r\nGenre  : C",
        "Name   : A\rGenre  : B\r\rICY Info: StreamTitle='X - Y';\r",
        "ICY Info: StreamTitle='Partial title",
        "\r\n\r\n\n\rName   : Last\n",
        "Bitrate: 1" + cacheFill(3) + "\nBitrate: 2\r",
    };
    for (const auto& log : logs) {
        const PlayerLogFields expected = fullRead(log);
        // Every split point, and every pair of split points, in turn.
        for (std::size_t a = 0; a <= log.size(); ++a) {
            for (std::size_t b = a; b <= log.size(); b += (log.size() > 64 ? 37 : 1)) {
                PlayerLogParser parser;
                parser.feed(std::string_view(log).substr(0, a));
                parser.feed(std::string_view(log).substr(a, b - a));
                parser.feed(std::string_view(log).substr(b));
                ASSERT_EQ(parser.fields(), expected) << "split at " << a << ", " << b;
            }
        }
    }
}

TEST(PlayerLog, PendingLastLineCountsUntilItEnds) {
    PlayerLogParser parser;
    parser.feed("ICY Info: StreamTitle='Artist - So");
    EXPECT_EQ(parser.fields().title, "Artist - ");
    EXPECT_EQ(parser.completeLineFields().title, std::nullopt);
    parser.feed("ng';StreamUrl='';\n");
    EXPECT_EQ(parser.fields().title, "Artist - Song");
}

TEST(PlayerLog, OverlongLinesAreCutAtTheLimit) {
    const std::string huge(kMaxPlayerLogLine * 2, 'x');
    PlayerLogParser parser;
    parser.feed("Name   : " + huge.substr(0, 1000));
    parser.feed(huge);
    parser.feed("\nGenre  : " + huge + "\n");
    const auto fields = parser.fields();
    ASSERT_TRUE(fields.name && fields.genre);
    EXPECT_EQ(fields.name->size(), kMaxPlayerLogLine - 9);
    EXPECT_EQ(*fields.genre, std::string(kMaxPlayerLogLine - 9, 'x'));
}

class PlayerLogReaderTest : public ::testing::Test {
protected:
    std::filesystem::path log() const { return dir.path() / "mplayer1.log"; }
    void write(const std::string& bytes) const { dir.write("mplayer1.log", bytes); }
    void append(const std::string& bytes) const {
        std::ofstream(log(), std::ios::binary | std::ios::app) << bytes;
    }
    // Reads the log and checks the fields equal a full read of what it holds.
    void expectFullReadResult(PlayerLogReader& reader) const {
        ASSERT_EQ(reader.update(log()), PlayerLogReader::Outcome::Read);
        EXPECT_EQ(reader.fields(), fullRead(dir.read("mplayer1.log")));
    }

    test::TempDir dir;
};

TEST_F(PlayerLogReaderTest, ReadsOnlyWhatWasAppended) {
    PlayerLogReader reader;
    write("Name   : First\nICY Info: StreamTitle='Artist - Al");
    expectFullReadResult(reader);
    EXPECT_EQ(reader.fields().title, "Artist - ");
    const auto position = reader.position();

    append("pha';StreamUrl='';\n" + cacheFill(20));
    expectFullReadResult(reader);
    EXPECT_EQ(reader.fields().title, "Artist - Alpha");
    EXPECT_GT(reader.position(), position);

    append("\nName   : Second\r");
    expectFullReadResult(reader);
    append("\nGenre  : G\r\n");
    expectFullReadResult(reader);
    EXPECT_EQ(reader.fields().name, "Second");
}

TEST_F(PlayerLogReaderTest, StartsAgainWhenTheLogIsReplacedOrTruncated) {
    struct Case {
        const char* what;
        std::string before;
        std::string after;
    } cases[] = {
        {"truncated and shorter", "Name   : Old station\nGenre  : Rock\n", "Genre  : Jazz\n"},
        {"recreated and already longer", "Name   : Old\n" + cacheFill(5),
         "Genre  : New\n" + cacheFill(9) + "\n"},
        {"same length, other bytes", "Name   : AAAA\n", "Genre  : BBB\n"},
        {"same start, other bytes further on", std::string(5000, '.') + "\nName   : Old\n",
         std::string(5000, '.') + "\nGenre  : New\nName   : Newer\n"},
    };
    for (const auto& c : cases) {
        PlayerLogReader reader;
        write(c.before);
        expectFullReadResult(reader);
        write(c.after);
        expectFullReadResult(reader);
        EXPECT_EQ(reader.fields().name, fullRead(c.after).name) << c.what;
    }
}

TEST_F(PlayerLogReaderTest, ReplacedByAnotherFileIsReadFromTheTop) {
    PlayerLogReader reader;
    write("Name   : Old\n");
    expectFullReadResult(reader);
    dir.write("new.log", "Name   : New, and longer than the old log\n");
    std::filesystem::rename(dir.path() / "new.log", log());
    expectFullReadResult(reader);
    EXPECT_EQ(reader.fields().name, "New, and longer than the old log");
}

TEST_F(PlayerLogReaderTest, MissingOrUnreadableLogStartsOverNextTime) {
    PlayerLogReader reader;
    EXPECT_EQ(reader.update(log()), PlayerLogReader::Outcome::Missing);
    write("Name   : A\n");
    expectFullReadResult(reader);
    std::filesystem::remove(log());
    EXPECT_EQ(reader.update(log()), PlayerLogReader::Outcome::Missing);
    EXPECT_EQ(reader.position(), 0u);

    std::filesystem::create_directory(log());
    EXPECT_EQ(reader.update(log()), PlayerLogReader::Outcome::Unreadable);
    std::filesystem::remove(log());
    write("Genre  : B\n");
    expectFullReadResult(reader);
    EXPECT_EQ(reader.fields().name, std::nullopt);
}

TEST_F(PlayerLogReaderTest, AHugeBacklogIsCaughtUpOverSeveralReads) {
    PlayerLogReader reader(1000);
    const std::string log = "Name   : Early\n" + cacheFill(200) + "\nName   : Late\nGenre  : G";
    write(log);
    int reads = 0;
    do {
        ASSERT_EQ(reader.update(this->log()), PlayerLogReader::Outcome::Read);
        ++reads;
        if (reader.position() < log.size()) {
            EXPECT_NE(reader.fields().genre, "G");
        }
    } while (reader.position() < log.size());
    EXPECT_EQ(reads, static_cast<int>((log.size() + 999) / 1000));
    EXPECT_EQ(reader.fields(), fullRead(log));
}

TEST_F(PlayerLogReaderTest, RandomAppendsAndRestartsMatchAFullRead) {
    std::mt19937 random(7);
    const std::string pieces[] = {"Name   : N",
                                  "ICY Info: StreamTitle='T - ",
                                  "x';StreamUrl='';",
                                  "\r",
                                  "\n",
                                  "\r\n",
                                  "Genre  : G",
                                  cacheFill(3),
                                  "Selected audio codec: C"};
    PlayerLogReader reader(64);
    write("");
    for (int step = 0; step < 400; ++step) {
        const std::string piece = pieces[random() % std::size(pieces)];
        if (random() % 25 == 0) {
            write(piece);
        } else {
            append(piece);
        }
        while (reader.update(log()) == PlayerLogReader::Outcome::Read &&
               reader.position() < std::filesystem::file_size(log())) {
        }
        ASSERT_EQ(reader.fields(), fullRead(dir.read("mplayer1.log"))) << "step " << step;
    }
}

}  // namespace
}  // namespace kestrel
