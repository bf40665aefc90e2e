#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/proc_processes.h"
#include "platform/process_table.h"
#include "platform/socket_intake.h"

namespace kestrel {

/// Looks a station's processes up in /proc: a process has the name N when its
/// comm or the base name of its argv[0] equals N with or without ".exe"
/// (without regard to case), it belongs to this user, it is not a zombie, and
/// the station started it (startedByStation): other stations' players on the
/// same machine are never counted. One walk of /proc
/// answers every question asked within 50 ms (the player look asks four in a
/// row) and until the station runs a command, which also makes the next walk
/// look at every process again: a player it starts may have a recycled id.
class ProcProcessTable final : public ProcessTable {
public:
    /// The station in `stationDir`; `procRoot` is "/proc" on a station, tests
    /// point it at a prepared tree.
    explicit ProcProcessTable(const std::filesystem::path& stationDir,
                              std::filesystem::path procRoot = "/proc");

    ProcessCheck check(const std::string& executableName) override;
    /// The sum, over the processes of that name, of `rchar` in /proc/PID/io
    /// and of the bytes their TCP sockets have received.
    std::optional<std::uint64_t> bytesRead(const std::string& executableName) override;
    void forget() override;

private:
    /// The processes of that name; nullopt when /proc cannot be read.
    const std::optional<std::vector<pid_t>>& processesNamed(const std::string& executableName);

    struct Walked {
        std::chrono::steady_clock::time_point at;
        std::vector<std::optional<std::vector<pid_t>>> pids;  ///< by index in m_names
    };
    std::filesystem::path m_procRoot;
    ProcessWalk m_walk;
    std::vector<std::string> m_names;  ///< every name asked about so far
    std::optional<Walked> m_walked;
    std::map<std::string, KnownSockets> m_sockets;  ///< by executable name
};

}  // namespace kestrel
