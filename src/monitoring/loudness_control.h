#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "metadata/player_log_reader.h"
#include "monitoring/short_term_loudness.h"
#include "station/station.h"

namespace kestrel {

/// Measures what each player's source sends and plays each source at the
/// gain that brings it to TargetLoudness: the short-term loudness of both
/// slots, an estimate per source (kept in its file across restarts), and
/// each player's volume, set through its control channel whenever its gain
/// or fade has moved.
class LoudnessControl {
public:
    explicit LoudnessControl(Station& station) : m_station(station) {}

    /// Reads the sources' estimates of an earlier run (with TargetLoudness on).
    void loadEstimates();

    /// The block `slot` sent, as read at `nowSeconds` (nullopt: none).
    void take(int slot, double nowSeconds, const std::optional<AudioBlock>& sent);

    /// After both slots' blocks: estimates, gains and volumes move on, and
    /// now and then the estimates are written.
    void adjust(double nowSeconds);

private:
    struct SlotMeasure {
        std::uint64_t starts = 0;
        std::optional<std::uint64_t> counter;
        ShortTermLoudness shortTerm;
        PlayerLogReader log;
        int sampleRate = 0;
        double logReadAt = -1;
        int logReads = 0;
    };
    void adjustSlot(int slot, double seconds, double nowSeconds);
    void writeEstimates(double nowSeconds);

    Station& m_station;
    std::array<SlotMeasure, 2> m_slots;
    std::optional<double> m_lastAdjust;
    double m_writtenAt = 0;
    std::map<std::int16_t, double> m_written;  ///< estimates as last written
};

/// Sends `slot` its volume for its gain and fade when that differs from the
/// one it was last given; a channel nobody reads is tried again next time.
void applySlotVolume(Station& station, int slot);

}  // namespace kestrel
