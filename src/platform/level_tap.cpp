#include "platform/level_tap.h"

#include <cstring>

namespace kestrel {

LevelTap& noLevelTap() {
    struct NoTap final : LevelTap {
        std::filesystem::path file(int, TapPoint) const override { return {}; }
        std::optional<AudioBlock> read(int, TapPoint) override { return std::nullopt; }
        void clear(int) override {}
    };
    static NoTap tap;
    return tap;
}

std::optional<AudioBlock> parseAudioBlock(const char* bytes, std::size_t size) {
    if (size < kAudioHeaderBytes) return std::nullopt;
    std::int32_t channels = 0;
    std::int32_t sampleBytes = 0;
    AudioBlock block;
    std::memcpy(&channels, bytes, sizeof channels);
    std::memcpy(&sampleBytes, bytes + 4, sizeof sampleBytes);
    std::memcpy(&block.counter, bytes + 8, sizeof block.counter);
    if (channels < 1 || channels > kMaxTapChannels) return std::nullopt;
    if (sampleBytes <= 0 || sampleBytes > kMostAudioSampleBytes) return std::nullopt;
    if (sampleBytes % (2 * channels) != 0) return std::nullopt;
    if (size - kAudioHeaderBytes < static_cast<std::size_t>(sampleBytes)) return std::nullopt;
    block.channels = channels;
    block.samples.resize(static_cast<std::size_t>(sampleBytes) / 2);
    std::memcpy(block.samples.data(), bytes + kAudioHeaderBytes,
                static_cast<std::size_t>(sampleBytes));
    return block;
}

}  // namespace kestrel
