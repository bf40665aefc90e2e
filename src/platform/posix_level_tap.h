#pragma once

#include <filesystem>

#include "platform/level_tap.h"

namespace kestrel {

/// Where the players' audio files go: the service's runtime directory
/// ($RUNTIME_DIRECTORY, its first entry) when set, else /dev/shm; both are
/// tmpfs, so ten writes a second never wear an SD card.
std::filesystem::path levelTapDirectory();

/// The audio files of the station in `stationDir`, in `tapDir`. The names
/// carry the user and the station directory, so that stations side by side
/// never share one.
class PosixLevelTap final : public LevelTap {
public:
    PosixLevelTap(std::filesystem::path tapDir, const std::filesystem::path& stationDir);

    std::filesystem::path file(int slot) const override;
    /// Reads with pread rather than a mapping: a new player truncates the
    /// file, and a mapping read at that moment would end the station (SIGBUS).
    std::optional<AudioBlock> read(int slot) override;

private:
    std::filesystem::path m_dir;
    std::string m_prefix;
};

}  // namespace kestrel
