#pragma once

#include <filesystem>
#include <string_view>

namespace kestrel {

/// Hands commands to the players of slot 1 and 2 ("volume 25 1") through a
/// channel each player reads, without ever blocking the station.
class PlayerControl {
public:
    virtual ~PlayerControl() = default;

    /// Makes a fresh channel for the next player of `slot` (whatever an
    /// earlier player left unread is gone) and returns its path for the
    /// player's command line; empty when the slot cannot be controlled.
    virtual std::filesystem::path renew(int slot) = 0;

    /// Sends one command line; false when no player reads the slot's channel
    /// (none started, ended, or a program that ignores it) or the command
    /// could not be handed over whole. Never waits.
    virtual bool send(int slot, std::string_view command) = 0;
};

/// Control that reaches no player: every player plays at the level it starts with.
PlayerControl& noPlayerControl();

}  // namespace kestrel
