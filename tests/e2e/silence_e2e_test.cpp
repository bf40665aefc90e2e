// The real station and the real MPlayer on sound files made with sox: a
// source that falls silent is replaced by source 0, and comes back once a
// trial finds its sound again; a sound device that is not there is told,
// tried every 5 s, and blamed on no source.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/process_cleanup.h"
#include "support/temp_dir.h"
#include "support/text_count.h"
#include "support/wait.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kStation = KESTREL_BINARY_DIR "/kestrelfield";

bool sox(const std::string& arguments) {
    return std::system(("sox -q -n -r 8000 -c 1 " + arguments + " 2>/dev/null").c_str()) == 0;
}

// A station of source 9 (`nineSox`, no schedule: played from the start) and
// source 0, with `settings` in its ini; MPlayer's own output is null.
class SoundEndToEnd : public ::testing::Test {
protected:
    void start(const std::string& nineSox, const std::string& settings) {
        ASSERT_TRUE(fs::exists(kStation)) << kStation << " is not built";
        playerHome.write("config", "ao=null\nvo=null\n");
        const auto nine = scratch.path() / "nine.wav";
        const auto zero = scratch.path() / "zero.wav";
        ASSERT_TRUE(sox(nine.string() + " " + nineSox));
        ASSERT_TRUE(sox(zero.string() + " synth 300 sine 330 gain -10"));
        stationDir.write("kestrelfield.ini",
                         "[Kestrelfield]\r\nManagementUpdate=0\r\n"
                         "CheckForChanges=0\r\nAPIallowed=0\r\nAIRenable=0\r\n"
                         "MetaWeather=0\r\nCheckSource=0\r\n" +
                             settings);
        stationDir.write("sourcelist.ini", "9n:Nine\r\n9u:" + nine.string() +
                                               "\r\n0n:Backup\r\n0u:" + zero.string() + "\r\n");
        station.emplace(std::vector<std::string>{kStation.string()}, stationDir.path(),
                        scratch.path() / "station.out",
                        std::vector<std::string>{"QT_QPA_PLATFORM=offscreen",
                                                 "MPLAYER_HOME=" + playerHome.path().string(),
                                                 "RUNTIME_DIRECTORY=" + scratch.path().string()});
    }
    void TearDown() override {
        station.reset();
        test::killPlayersIn(stationDir.path());
    }
    std::string journal() const { return scratch.read("station.out"); }
    bool logged(const char* part) const { return journal().find(part) != std::string::npos; }

    test::TempDir scratch, stationDir, playerHome;
    std::optional<test::ChildProcess> station;
};

TEST_F(SoundEndToEnd, ToneThenSilenceFallsBackAndReturnsWhenSoundIsBack) {
    // Every player of source 9 plays 5 s of tone, then silence: the first one
    // falls silent, and the trial a minute later begins with 3 s of sound and more.
    start("synth 5 sine 440 gain -6 pad 0 300", "SilenceSeconds=2\r\n");
    EXPECT_TRUE(test::waitUntil([&] { return logged("cause=schedule source=9"); }, 15s))
        << journal();
    EXPECT_TRUE(test::waitUntil([&] { return logged("event=silence source=9"); }, 15s))
        << journal();
    EXPECT_TRUE(test::waitUntil([&] { return logged("cause=silence source=0"); }, 15s))
        << journal();
    EXPECT_NE(stationDir.read("error.log").find("SILENCE "), std::string::npos);
    EXPECT_TRUE(test::waitUntil([&] { return logged("cause=silence_ended source=9"); }, 80s))
        << journal();
}

TEST_F(SoundEndToEnd, AMissingSoundCardIsToldNotBlamedOnTheSources) {
    // ALSA has no card 31: MPlayer cannot open the device, says so and ends.
    start("synth 300 sine 440 gain -10", "AudioDevice=hw:31,0\r\n");
    EXPECT_TRUE(test::waitUntil([&] { return logged("event=output_failed source=9"); }, 15s))
        << journal();
    EXPECT_NE(stationDir.read("error.log").find("OUTPUT FAILED "), std::string::npos);
    // Tried again every 5 s, told every 15 s.
    EXPECT_TRUE(
        test::waitUntil([&] { return test::countOf(journal(), "event=output_failed") >= 2; }, 25s))
        << journal();
    const std::string errors = stationDir.read("error.log");
    for (const char* blame : {"SWITCH FAILED", "RESTART", "STALL", "SILENCE"})
        EXPECT_EQ(test::countOf(errors, blame), 0) << errors;
    EXPECT_FALSE(logged("cause=source_dead")) << journal();
}

}  // namespace
}  // namespace kestrel
