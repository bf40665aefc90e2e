#pragma once

#include <string>

namespace kestrel {

enum class ProcessCheck { Running, NotRunning, Unknown };

/// Answers whether a process with a given executable name runs.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    /// `executableName` is the station's name ("mplayer1.exe"); a check that
    /// cannot be made answers Unknown, never NotRunning.
    virtual ProcessCheck check(const std::string& executableName) = 0;
};

}  // namespace kestrel
