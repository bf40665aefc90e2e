#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "platform/process_table.h"
#include "platform/socket_intake.h"

namespace kestrel {

/// Looks processes up in /proc: a process has the name N when its comm or the
/// base name of its argv[0] equals N with or without ".exe" (without regard to
/// case), it belongs to this user and it is not a zombie.
class ProcProcessTable final : public ProcessTable {
public:
    /// `procRoot` is "/proc" on a station; tests point it at a prepared tree.
    explicit ProcProcessTable(std::filesystem::path procRoot = "/proc");

    ProcessCheck check(const std::string& executableName) override;
    /// The sum, over the processes of that name, of `rchar` in /proc/PID/io
    /// and of the bytes their TCP sockets have received.
    std::optional<std::uint64_t> bytesRead(const std::string& executableName) override;

private:
    std::filesystem::path m_procRoot;
    std::map<std::string, KnownSockets> m_sockets;  ///< by executable name
};

}  // namespace kestrel
