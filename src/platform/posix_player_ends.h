#pragma once

#include <sys/types.h>

#include <array>
#include <functional>

#include "platform/event_loop.h"

namespace kestrel {

/// Tells at once when a player the station started has ended: a pidfd per
/// slot, watched by the event loop, becomes readable when its process ends.
class PosixPlayerEnds {
public:
    explicit PosixPlayerEnds(EventLoop& loop) : m_loop(loop) {}
    ~PosixPlayerEnds();
    PosixPlayerEnds(const PosixPlayerEnds&) = delete;
    PosixPlayerEnds& operator=(const PosixPlayerEnds&) = delete;

    /// `ended(slot)` runs on the loop's thread once the watched player ends.
    void setHandler(std::function<void(int slot)> ended) { m_ended = std::move(ended); }

    /// Watches `pid`, just started in slot 1 or 2, in place of the slot's
    /// earlier player. A process already gone is reported from the loop.
    void started(int slot, pid_t pid);

private:
    void stopWatching(int slot);
    void report(int slot);

    EventLoop& m_loop;
    std::function<void(int)> m_ended;
    std::array<int, 2> m_pidfds{-1, -1};
};

}  // namespace kestrel
