#include "platform/command_line.h"

#include <string_view>

namespace kestrel {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A plain file name in the working directory: no path, no blanks, no shell
// characters. Anything else is refused rather than interpreted.
bool isPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::optional<StationCommand> parsePlayerStart(std::string_view rest) {
    // rest: "mplayerN.exe URL -quiet >mplayerN.log"
    for (int slot : {1, 2}) {
        const std::string head = playerExecutable(slot) + " ";
        const std::string tail = " -quiet >" + playerLogFile(slot);
        if (rest.size() < head.size() + tail.size()) continue;
        if (!startsWith(rest, head)) continue;
        if (rest.substr(rest.size() - tail.size()) != tail) continue;
        std::string url(rest.substr(head.size(), rest.size() - head.size() - tail.size()));
        return StartPlayerCommand{playerExecutable(slot), std::move(url), playerLogFile(slot)};
    }
    return std::nullopt;
}

}  // namespace

std::string playerExecutable(int slot) {
    return "mplayer" + std::to_string(slot) + ".exe";
}

std::string playerLogFile(int slot) {
    return "mplayer" + std::to_string(slot) + ".log";
}

std::string playerStartCommand(int slot, const std::string& url) {
    return "cmd /c " + playerExecutable(slot) + " " + url + " -quiet >" + playerLogFile(slot);
}

std::string playerStopCommand(int slot) {
    return "taskkill /f /im " + playerExecutable(slot);
}

std::optional<StationCommand> parseStationCommand(const std::string& commandLine) {
    const std::string_view text(commandLine);
    if (startsWith(text, "taskkill /f /im ")) {
        const auto name = text.substr(16);
        if (!isPlainFileName(name)) return std::nullopt;
        return KillByNameCommand{std::string(name)};
    }
    if (startsWith(text, "cmd /c del ")) {
        const auto name = text.substr(11);
        if (!isPlainFileName(name)) return std::nullopt;
        return DeleteFileCommand{std::string(name)};
    }
    if (startsWith(text, "notepad ")) {
        const auto name = text.substr(8);
        if (!isPlainFileName(name)) return std::nullopt;
        return OpenEditorCommand{std::string(name)};
    }
    if (startsWith(text, "cmd /c ")) return parsePlayerStart(text.substr(7));
    return std::nullopt;
}

}  // namespace kestrel
