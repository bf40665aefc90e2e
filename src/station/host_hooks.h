#pragma once

namespace kestrel {

/// What the core asks of the window host. The default does nothing, which is
/// what a simulated host or a test wants.
class HostHooks {
public:
    virtual ~HostHooks() = default;

    /// Maximise the main window (true) or give it its normal size (false).
    virtual void setMaximised(bool) {}

    /// End the program at once; players keep running.
    virtual void endProgram() {}

    /// Create (if needed) and show the API server window, not modally.
    virtual void showApiWindow() {}
};

}  // namespace kestrel
