#pragma once

#include <filesystem>

#include "platform/level_tap.h"

namespace kestrel {

/// Where the players' audio files go: the service's runtime directory
/// ($RUNTIME_DIRECTORY, its first entry) when set, else a private directory
/// of this user and station on /dev/shm (or /tmp); both are tmpfs on a
/// station machine, so ten writes a second never wear an SD card. Empty when
/// no such directory can be made: the players then hand nothing over.
std::filesystem::path levelTapDirectory(const std::filesystem::path& stationDir);

/// A directory in `base` that only this user can enter: `name` when it is
/// made now or already is such a directory of this user (a later run of the
/// same station), else a new one with a unique suffix, so that another user
/// who made or filled `name` first cannot stop the players or read their
/// audio. Empty when none can be made.
std::filesystem::path privateDirectory(const std::filesystem::path& base, const std::string& name);

/// The audio files of the station in `stationDir`, in `tapDir` (none when it
/// is empty). The names carry the user and the station directory, so that
/// stations side by side never share one.
class PosixLevelTap final : public LevelTap {
public:
    PosixLevelTap(std::filesystem::path tapDir, const std::filesystem::path& stationDir);

    std::filesystem::path file(int slot, TapPoint point) const override;
    /// Reads with pread rather than a mapping: a new player truncates the
    /// file, and a mapping read at that moment would end the station (SIGBUS).
    std::optional<AudioBlock> read(int slot, TapPoint point) override;
    void clear(int slot) override;

private:
    std::filesystem::path m_dir;
    std::string m_prefix;
};

}  // namespace kestrel
