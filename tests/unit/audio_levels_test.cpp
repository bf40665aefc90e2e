#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "monitoring/silence_watch.h"
#include "platform/level_tap.h"
#include "station/audio_levels.h"

namespace kestrel {
namespace {

std::vector<char> fileBytes(std::int32_t channels, std::int32_t sampleBytes, std::uint64_t counter,
                            std::size_t actualSampleBytes) {
    std::vector<char> bytes(kAudioHeaderBytes + actualSampleBytes);
    std::memcpy(bytes.data(), &channels, 4);
    std::memcpy(bytes.data() + 4, &sampleBytes, 4);
    std::memcpy(bytes.data() + 8, &counter, 8);
    return bytes;
}

TEST(AudioBlock, GarbledFilesReadAsNoData) {
    const struct {
        const char* what;
        std::int32_t channels, sampleBytes;
        std::size_t actual;
        bool parses;
    } cases[] = {
        {"two channels of 512", 2, 2048, 2048, true}, {"header only", 2, 2048, 0, false},
        {"no channels", 0, 2048, 2048, false},        {"negative channels", -1, 2048, 2048, false},
        {"nine channels", 9, 18, 18, false},          {"odd byte count", 1, 3, 3, false},
        {"a channel cut short", 2, 6, 6, false},      {"negative byte count", 1, -2, 0, false},
        {"huge byte count", 1, 1 << 30, 16, false},
    };
    for (const auto& c : cases) {
        const auto bytes = fileBytes(c.channels, c.sampleBytes, 7, c.actual);
        const auto block = parseAudioBlock(bytes.data(), bytes.size());
        EXPECT_EQ(block.has_value(), c.parses) << c.what;
        if (block) {
            EXPECT_EQ(block->samples.size(), 1024u) << c.what;
        }
    }
    EXPECT_FALSE(parseAudioBlock("short", 5).has_value());
}

// A block of `channels` channels, each a square wave of `amplitude`.
AudioBlock tone(std::uint64_t counter, std::vector<int> amplitudes) {
    AudioBlock block{counter, static_cast<int>(amplitudes.size()), {}};
    for (const int a : amplitudes)
        for (int i = 0; i < 512; ++i)
            block.samples.push_back(static_cast<std::int16_t>(i % 2 ? a : -a));
    return block;
}

TEST(SlotLevels, RmsAndPeakOverRecentBlocksAndNeverSilenceWhenUnknown) {
    struct Read {
        double at;
        std::optional<AudioBlock> block;         // nullopt: no file
        std::optional<std::vector<double>> rms;  // expected; nullopt: no data
        std::optional<double> peak0;
    };
    const struct {
        const char* what;
        std::vector<Read> reads;
    } cases[] = {
        // clang-format off
        {"a first sight is no data, a rising counter is",
         {{0.0, tone(5, {16384, 0}), {}, {}},
          {0.1, tone(6, {16384, 0}), std::vector{-6.02, -120.0}, -6.02}}},
        {"a counter that stands for a second is no data",
         {{0.0, tone(1, {1000}), {}, {}}, {0.1, tone(2, {1000}), std::vector{-30.30}, {}},
          {0.9, tone(2, {1000}), std::vector{-30.30}, {}}, {1.1, tone(2, {1000}), {}, {}}}},
        {"a vanished file is no data at once, and counts from scratch",
         {{0.0, tone(1, {1000}), {}, {}}, {0.1, tone(2, {1000}), std::vector{-30.30}, {}},
          {0.2, std::nullopt, {}, {}}, {0.3, tone(3, {1000}), {}, {}}}},
        {"a loud block counts for 300 ms, then the quiet ones alone",
         {{0.0, tone(1, {0}), {}, {}}, {0.1, tone(2, {32767}), std::vector{0.0}, 0.0},
          {0.2, tone(3, {0}), std::vector{-3.01}, 0.0},
          {0.55, tone(4, {0}), std::vector{-120.0}, -120.0}}},
        {"a new player with another channel count starts afresh",
         {{0.0, tone(1, {1000}), {}, {}}, {0.1, tone(2, {1000}), std::vector{-30.30}, {}},
          {0.2, tone(1, {0, 0}), std::vector{-120.0, -120.0}, {}}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SlotLevels levels;
        for (const auto& read : c.reads) {
            levels.take(read.at, read.block);
            const auto& got = levels.levels();
            ASSERT_EQ(got.has_value(), read.rms.has_value()) << c.what << " at " << read.at;
            if (!got) continue;
            ASSERT_EQ(got->rmsDbfs.size(), read.rms->size()) << c.what;
            for (std::size_t ch = 0; ch < got->rmsDbfs.size(); ++ch)
                EXPECT_NEAR(got->rmsDbfs[ch], (*read.rms)[ch], 0.01) << c.what << " at " << read.at;
            if (read.peak0) {
                EXPECT_NEAR(got->peakDbfs[0], *read.peak0, 0.01) << c.what;
            }
        }
    }
}

TEST(SilenceWatch, DeclaresOnlyDecodedSilenceOnAirOnce) {
    const ChannelLevels quiet{{-50, -70}, {-45, -60}};
    const ChannelLevels oneLoudChannel{{-50, -30}, {-45, -25}};
    const std::optional<ChannelLevels> none;
    struct Look {
        double at;
        std::int16_t source;
        std::optional<ChannelLevels> levels;
        SilenceWatch::Change change;
        double silentSeconds;
    };
    using enum SilenceWatch::Change;
    const struct {
        const char* what;
        int seconds;
        std::vector<Look> looks;
    } cases[] = {
        // clang-format off
        {"15 s below the level declare, once, and sound ends it", 15,
         {{0, 3, quiet, None, 0}, {14.9, 3, quiet, None, 14.9}, {15, 3, quiet, Declared, 15},
          {40, 3, quiet, None, 40}, {41, 3, oneLoudChannel, Ended, 0}}},
        {"no data restarts the count and is never silence", 15,
         {{0, 3, quiet, None, 0}, {10, 3, none, None, 0}, {20, 3, quiet, None, 0},
          {34, 3, quiet, None, 14}, {35, 3, quiet, Declared, 15}}},
        {"another source on air restarts the count and ends a silence", 5,
         {{0, 3, quiet, None, 0}, {5, 3, quiet, Declared, 5}, {6, 0, quiet, Ended, 0},
          {10, 0, quiet, None, 4}, {11, 0, quiet, Declared, 5}}},
        {"no data on a declared silence leaves it declared", 5,
         {{0, 3, quiet, None, 0}, {5, 3, quiet, Declared, 5}, {6, 3, none, None, 0},
          {20, 3, quiet, None, 0}}},
        {"SilenceSeconds 0 counts but never declares", 0,
         {{0, 3, quiet, None, 0}, {700, 3, quiet, None, 700}}},
        {"nothing on air is never silence", 5, {{0, -1, quiet, None, 0}, {9, -1, quiet, None, 0}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SilenceWatch watch;
        for (const auto& look : c.looks) {
            EXPECT_EQ(watch.look(look.at, look.source, look.levels, {-40, c.seconds}), look.change)
                << c.what << " at " << look.at;
            EXPECT_NEAR(watch.silentSeconds(look.at), look.silentSeconds, 1e-9)
                << c.what << " at " << look.at;
        }
    }
}

}  // namespace
}  // namespace kestrel
