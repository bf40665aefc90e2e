#pragma once

#include <cstdint>

namespace kestrel {

/// A source held off for silence is tried again this often, counted from the declaration.
inline constexpr double kSilenceTrialEverySeconds = 60;

/// The silence alarm as the rest of the station sees it.
struct SilenceState {
    /// True from a declaration while its source is silent on air or held off
    /// for silence; false again when it has sound, returns, or the hold ends.
    bool declared = false;
    std::int16_t source = -1;  ///< the declared source; -1 none
    double silentSeconds = 0;  ///< how long the source on air has been below the level
    /// The source replaced by source 0 for silence and tried again every
    /// minute; -1 none.
    std::int16_t heldSource = -1;
    double nextTrialAt = 0;   ///< steady seconds of the next return trial
    std::uint64_t count = 0;  ///< silences declared since start-up
};

}  // namespace kestrel
