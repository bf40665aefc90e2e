#pragma once

#include <functional>

#include "platform/station_command.h"

namespace kestrel {

/// How the command's window would be shown; kept for fidelity with the
/// station's command table (players, kills and deletes run minimised).
enum class WindowStyle {
    NormalWithFocus = 1,
    MinimisedWithFocus = 2,
};

/// Carries out one of the station's commands and never waits for it.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    /// Returns false when the command names no player slot or no plain file of
    /// the station directory, or could not be launched; callers ignore the result.
    virtual bool run(const StationCommand& command, WindowStyle style) = 0;

    /// `ended(slot)` runs on the station's thread, within a moment, when a
    /// player this runner started has ended. A runner that cannot tell never
    /// calls it: the station's look at its players every second remains.
    virtual void onPlayerEnded(std::function<void(int slot)> ended) { (void)ended; }
};

}  // namespace kestrel
