#pragma once

#include <optional>
#include <string>
#include <variant>

namespace kestrel {

/// "cmd /c mplayer1.exe URL -quiet >mplayer1.log"
struct StartPlayerCommand {
    std::string executable;  ///< "mplayer1.exe"
    std::string url;
    std::string logFile;  ///< "mplayer1.log"
};

/// "taskkill /f /im NAME"
struct KillByNameCommand {
    std::string executable;
};

/// "cmd /c del FILE"
struct DeleteFileCommand {
    std::string file;
};

/// "notepad FILE"
struct OpenEditorCommand {
    std::string file;
};

using StationCommand =
    std::variant<StartPlayerCommand, KillByNameCommand, DeleteFileCommand, OpenEditorCommand>;

/// Recognises the command texts the station issues. Anything else, and any
/// file name that would leave the working directory, gives nullopt.
std::optional<StationCommand> parseStationCommand(const std::string& commandLine);

/// The start command of a player slot, with the address inserted verbatim.
std::string playerStartCommand(int slot, const std::string& url);
/// The stop command of a player slot.
std::string playerStopCommand(int slot);
/// "mplayer1.exe" / "mplayer2.exe".
std::string playerExecutable(int slot);
/// "mplayer1.log" / "mplayer2.log".
std::string playerLogFile(int slot);

}  // namespace kestrel
