#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "station/audio_levels.h"

namespace kestrel {

/// SilenceLevel and SilenceSeconds as the configuration gives them.
struct SilenceSettings {
    double levelDbfs = -40;  ///< every channel's RMS below this is silence
    int seconds = 15;        ///< that long declares it; 0: never (meters only)
};

/// Counts how long the source on air has been silent and says when that
/// makes a silence. Only decoded audio counts: no data restarts the count,
/// and so does another source on air. Titles, metadata and underruns are
/// not looked at, so none of them resets it.
class SilenceWatch {
public:
    enum class Change { None, Declared, Ended };

    /// One look at `nowSeconds` (steady clock): the source on air (-1 none)
    /// and its slot's levels (nullopt: no data). Declared once per silence;
    /// Ended when a declared silence has sound again or its source left the air.
    Change look(double nowSeconds, std::int16_t source, const std::optional<ChannelLevels>& levels,
                const SilenceSettings& settings);

    /// How long the source on air has been below the level; 0 with sound or no data.
    double silentSeconds(double nowSeconds) const {
        return m_silentSince ? nowSeconds - *m_silentSince : 0;
    }
    /// The source of the silence declared and not yet ended; nullopt none.
    std::optional<std::int16_t> declared() const { return m_declared; }

private:
    std::int16_t m_source = -1;
    std::optional<double> m_silentSince;
    std::optional<std::int16_t> m_declared;
};

}  // namespace kestrel
