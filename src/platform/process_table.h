#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

enum class ProcessCheck { Running, NotRunning, Unknown };

/// Answers whether a process of this station with a given executable name
/// runs, and how much the processes of that name have read. Processes that
/// other stations on the machine started are never counted.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    /// `executableName` is the station's name ("mplayer1.exe"); a check that
    /// cannot be made answers Unknown, never NotRunning.
    virtual ProcessCheck check(const std::string& executableName) = 0;

    /// The bytes read so far by the processes of that name together (for a
    /// player: what it took in from its stream); nullopt when none runs or the
    /// count cannot be read.
    virtual std::optional<std::uint64_t> bytesRead(const std::string& executableName) = 0;

    /// The station has just run a command, which may have started or ended
    /// processes: nothing the table remembers of them holds any longer.
    virtual void forget() {}
};

}  // namespace kestrel
