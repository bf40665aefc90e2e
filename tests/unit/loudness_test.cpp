// Loudness: the gain rule, the estimates file, the short-term mean and the
// real libebur128 meter on a BS.1770 reference tone.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "monitoring/short_term_loudness.h"
#include "platform/ebur128_loudness_meter.h"
#include "playback/loudness_estimates.h"
#include "playback/loudness_gain.h"
#include "playback/player_start.h"

namespace kestrel {
namespace {

TEST(LoudnessGain, GainsStayWithinBoundsAndMoveSlowly) {
    struct Case {
        double target, estimate, current, seconds;
        bool settling;
        double wanted, next;
    } cases[] = {
        {-18, -28, 0, 1, false, 10, 1},      // 1 dB a second
        {-18, -28, 0, 1, true, 10, 4},       // faster while settling
        {-18, -40, 11.5, 1, false, 12, 12},  // never above +12
        {-18, 5, -11.8, 2, true, -12, -12},  // never below -12
        {-18, -18.5, 0.2, 0.1, false, 0.5, 0.3},
        {-18, -17, 0, -1, false, -1, 0},  // time running backwards moves nothing
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(wantedGainDb(c.target, c.estimate), c.wanted) << c.estimate;
        EXPECT_NEAR(nextGainDb(c.current, c.wanted, c.seconds, c.settling), c.next, 1e-9)
            << c.estimate;
    }
}

TEST(LoudnessGain, EstimatesAverageSoundAndSkipPauses) {
    SourceLoudness source{"http://a/"};
    takeIntoEstimate(source, -20, 1);
    takeIntoEstimate(source, -60, 5);  // a pause: below the gate
    takeIntoEstimate(source, -10, 1);
    EXPECT_DOUBLE_EQ(source.estimateLufs, -15);
    EXPECT_DOUBLE_EQ(source.heardSeconds, 2);
    for (int i = 0; i < 600; ++i)
        takeIntoEstimate(source, -30, 0.1);
    EXPECT_NEAR(source.estimateLufs, -30, 0.5);

    LoudnessState state;
    state.sources[1] = {"http://one/", -14, 30};
    state.sources[2] = {"http://two/", -22, 30};
    EXPECT_DOUBLE_EQ(startGainDb(state, 1, "http://one/", -18), -4);
    // Heard on another address, or never: the mean of the others, the nearest guess.
    EXPECT_DOUBLE_EQ(startGainDb(state, 1, "http://new/", -18), 4);
    EXPECT_DOUBLE_EQ(startGainDb(state, 3, "http://three/", -18), 0);
    EXPECT_DOUBLE_EQ(startGainDb(state, 1, "http://one/", 0), 0);  // off
}

TEST(LoudnessEstimates, FileKeepsSettledEstimatesAndSkipsGarbledLines) {
    std::map<std::int16_t, SourceLoudness> sources{
        {3, {"http://s/live", -14.26, 60}}, {4, {"http://s/new", -20, 2}}, {5, {"", -20, 60}}};
    const std::string text = formatLoudnessEstimates(sources);
    EXPECT_EQ(text, "3 -14.3 http://s/live\r\n");
    const auto read = parseLoudnessEstimates(
        text + "x -1 http://a/\n7 -99 http://a/\n8 -12 \n9 nan http://a/\n2 -12.5 http://b/");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_DOUBLE_EQ(read.at(3).estimateLufs, -14.3);
    EXPECT_EQ(read.at(2).address, "http://b/");
}

TEST(PlayerStart, VolumesAndSoundDevices) {
    EXPECT_EQ(volumeCommand(0.0), "volume 25.000 1");
    EXPECT_EQ(volumeCommand(std::nullopt), "volume 0.000 1");
    EXPECT_NEAR(playerVolume(12), 99.53, 0.01);
    EXPECT_DOUBLE_EQ(playerVolume(40), 100);
    EXPECT_EQ(alsaOutputOption("hw:1,0"), "alsa:device=hw=1.0");
    EXPECT_EQ(alsaOutputOption("plughw:USB_Audio"), "alsa:device=plughw=USB_Audio");
    EXPECT_EQ(alsaOutputOption(""), std::nullopt);
    EXPECT_EQ(alsaOutputOption("hw:CARD=x"), std::nullopt);
    EXPECT_EQ(alsaOutputOption("a b"), std::nullopt);
}

// The EBU's reference: a 1 kHz sine at -23 dBFS in both channels reads -23 LUFS,
// also from sparse 512-sample blocks as the export filter hands them over.
TEST(Ebur128LoudnessMeter, ReferenceToneReadsMinus23FromSparseBlocks) {
    for (const int rate : {44100, 48000}) {
        Ebur128LoudnessMeter meter;
        ShortTermLoudness shortTerm;
        const double amplitude = 32768 * std::pow(10.0, -23.0 / 20);
        long position = 0;
        for (int block = 0; block < 40; ++block) {
            AudioBlock audio{static_cast<std::uint64_t>(block), 2, std::vector<std::int16_t>(1024)};
            for (int i = 0; i < 512; ++i) {
                const double t = static_cast<double>(position + i) / rate;
                const auto s = static_cast<std::int16_t>(
                    std::lround(amplitude * std::sin(2 * std::numbers::pi * 1000 * t)));
                audio.samples[i] = audio.samples[512 + i] = s;
            }
            position += rate / 10;  // one block read every 0.1 s
            const auto lufs = meter.blockLoudness(1, audio, rate);
            ASSERT_TRUE(lufs.has_value());
            shortTerm.add(block * 0.1, *lufs);
        }
        ASSERT_TRUE(shortTerm.lufs(3.9).has_value());
        EXPECT_NEAR(*shortTerm.lufs(3.9), -23, 0.3) << rate;
        EXPECT_FALSE(shortTerm.lufs(5.5).has_value());  // stale
    }
    Ebur128LoudnessMeter meter;
    EXPECT_FALSE(meter.blockLoudness(3, AudioBlock{1, 2, std::vector<std::int16_t>(4)}, 44100));
    EXPECT_FALSE(meter.blockLoudness(1, AudioBlock{1, 2, std::vector<std::int16_t>(4)}, 10));
    const auto silence =
        meter.blockLoudness(1, AudioBlock{1, 1, std::vector<std::int16_t>(512)}, 8000);
    ASSERT_TRUE(silence.has_value());
    EXPECT_TRUE(std::isinf(*silence));
}

}  // namespace
}  // namespace kestrel
