#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel {

/// Start the player of slot 1 or 2 on an address; its output replaces the slot's log.
struct StartPlayer {
    int slot = 1;
    std::string address;
    /// Arguments the system mplayer gets before the address; a player program
    /// of the engineer's own gets only the address and -quiet.
    std::vector<std::string> playerOptions;
    /// Variables added to the environment of whichever player program starts.
    std::vector<std::pair<std::string, std::string>> environment;
};

/// End every process of this station's slot 1 or 2 player; other stations' stay.
struct StopPlayer {
    int slot = 1;
};

/// Delete a file of the station directory.
struct DeleteFile {
    std::string file;
};

/// Open a file of the station directory in the engineer's editor.
struct OpenEditor {
    std::string file;
};

using StationCommand = std::variant<StartPlayer, StopPlayer, DeleteFile, OpenEditor>;

/// 1 or 2.
bool isPlayerSlot(int slot);
/// A plain file name in the station directory: no path, no blanks, no shell
/// characters. Commands naming anything else are refused, not interpreted.
bool isPlainFileName(std::string_view name);
/// "mplayer1.exe" / "mplayer2.exe": the name a slot's player runs under.
std::string playerExecutable(int slot);
/// "mplayer1.log" / "mplayer2.log".
std::string playerLogFile(int slot);

}  // namespace kestrel
