// The real station and the real MPlayer on sound files made with sox: a
// source that falls silent is replaced by source 0, and comes back once a
// trial finds its sound again.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/process_cleanup.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kStation = KESTREL_BINARY_DIR "/kestrelfield";

bool sox(const std::string& arguments) {
    return std::system(("sox -q -n -r 8000 -c 1 " + arguments + " 2>/dev/null").c_str()) == 0;
}

TEST(SilenceEndToEnd, ToneThenSilenceFallsBackAndReturnsWhenSoundIsBack) {
    ASSERT_TRUE(fs::exists(kStation)) << kStation << " is not built";
    test::TempDir scratch;
    test::TempDir stationDir;
    test::TempDir playerHome;
    playerHome.write("config", "ao=null\nvo=null\n");
    // Every player of source 9 plays 5 s of tone, then silence: the first one
    // falls silent, and the trial a minute later begins with 3 s of sound and more.
    const auto nine = scratch.path() / "nine.wav";
    const auto zero = scratch.path() / "zero.wav";
    ASSERT_TRUE(sox(nine.string() + " synth 5 sine 440 gain -6 pad 0 300"));
    ASSERT_TRUE(sox(zero.string() + " synth 300 sine 330 gain -10"));
    stationDir.write("kestrelfield.ini",
                     "[Kestrelfield]\r\nManagementUpdate=0\r\nCheckForChanges=0\r\nAPIallowed=0\r\n"
                     "AIRenable=0\r\nMetaWeather=0\r\nCheckSource=0\r\nSilenceSeconds=2\r\n");
    // No schedule: the station plays source 9 from the start.
    stationDir.write("sourcelist.ini", "9n:Nine\r\n9u:" + nine.string() +
                                           "\r\n0n:Backup\r\n0u:" + zero.string() + "\r\n");
    const auto out = scratch.path() / "station.out";
    const auto journal = [&] { return scratch.read("station.out"); };
    {
        test::ChildProcess station(
            {kStation.string()}, stationDir.path(), out,
            {"QT_QPA_PLATFORM=offscreen", "MPLAYER_HOME=" + playerHome.path().string(),
             "RUNTIME_DIRECTORY=" + scratch.path().string()});
        const auto logged = [&](const char* part) {
            return journal().find(part) != std::string::npos;
        };
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
    test::killPlayersIn(stationDir.path());
}

}  // namespace
}  // namespace kestrel
