#include "platform/station_command.h"

namespace kestrel {

bool isPlayerSlot(int slot) {
    return slot == 1 || slot == 2;
}

bool isPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string playerExecutable(int slot) {
    return "mplayer" + std::to_string(slot) + ".exe";
}

std::string playerLogFile(int slot) {
    return "mplayer" + std::to_string(slot) + ".log";
}

}  // namespace kestrel
