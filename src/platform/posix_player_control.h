#pragma once

#include <filesystem>

#include "platform/level_tap.h"
#include "platform/player_control.h"

namespace kestrel {

/// Player control through a FIFO per slot, beside the slot's audio files
/// (MPlayer's -input file=FIFO, which MPlayer opens for reading and writing,
/// so a command sender that comes and goes never ends its input). Each
/// command opens the FIFO without blocking, writes one line at once (below
/// the pipe's atomic size) and closes it again: no player, or a player that
/// does not read, costs nothing and holds nothing up.
class PosixPlayerControl final : public PlayerControl {
public:
    explicit PosixPlayerControl(const LevelTap& levels) : m_levels(levels) {}

    std::filesystem::path renew(int slot) override;
    bool send(int slot, std::string_view command) override;

    /// The FIFO of `slot`.
    std::filesystem::path fifo(int slot) const;

private:
    const LevelTap& m_levels;
};

}  // namespace kestrel
