#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kestrel {

/// The latest block of decoded audio a player slot handed over.
struct AudioBlock {
    std::uint64_t counter = 0;          ///< rises with every block the player writes
    int channels = 0;                   ///< 1 to kMaxTapChannels
    std::vector<std::int16_t> samples;  ///< one channel after the other, equally many each
};

/// More channels than this read as a garbled file.
inline constexpr int kMaxTapChannels = 8;

/// Where in a player's filter chain its audio is handed over: before its
/// gain (what the source sends) or after it (what the listeners hear).
enum class TapPoint { Source, Heard };

/// Reads what the players decode (MPlayer's export audio filter). Never
/// blocks: the files lie on tmpfs and are read, never waited for.
class LevelTap {
public:
    virtual ~LevelTap() = default;

    /// The file slot 1 or 2's player writes its audio to at `point`.
    virtual std::filesystem::path file(int slot, TapPoint point) const = 0;

    /// The slot's latest block at `point`; nullopt when there is no file or
    /// it is garbled (too short, no channels, a byte count that does not fit).
    virtual std::optional<AudioBlock> read(int slot, TapPoint point) = 0;

    /// Removes the slot's files before a new player starts there: a dead
    /// player's last block must not read as the new one's first.
    virtual void clear(int slot) = 0;
};

/// The file's header: int32 channels, int32 bytes of samples, uint64 counter,
/// all in the machine's byte order; the samples follow.
inline constexpr std::size_t kAudioHeaderBytes = 16;
/// MPlayer writes 512 samples per channel unless told otherwise; a byte
/// count above this is a garbled header, not audio.
inline constexpr std::int32_t kMostAudioSampleBytes = 1 << 20;

/// Parses a file's bytes; nullopt when they are too short or the header
/// makes no sense (no channels, a byte count that does not fit them).
std::optional<AudioBlock> parseAudioBlock(const char* bytes, std::size_t size);

/// A tap that never has data: no player hands its audio over.
LevelTap& noLevelTap();

}  // namespace kestrel
