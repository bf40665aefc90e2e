#pragma once

#include <optional>
#include <string>

#include "platform/station_command.h"
#include "station/station.h"

namespace kestrel {

/// MPlayer's software volume: `volume N 1` sets N percent of this many
/// percent of full scale, so 25 is unity and 100 is +12 dB, the most a
/// loudness gain adds.
inline constexpr double kSoftvolMaxPercent = 400;

/// The volume value that plays at `gainDb` (nullopt: muted), linear in amplitude.
double playerVolume(std::optional<double> gainDb);

/// The command that sets a player's volume to `gainDb` (nullopt: muted).
std::string volumeCommand(std::optional<double> gainDb);

/// MPlayer's audio output for an ALSA device name as ALSA writes it
/// ("hw:1,0" gives "alsa:device=hw=1.0": MPlayer reads ':' and ',' in its
/// own option syntax); nullopt for an empty name or one MPlayer cannot be
/// handed (anything but letters, digits and "_-:,").
std::optional<std::string> alsaOutputOption(const std::string& device);

/// The start of `slot`'s player for `source` on `address`, at the gain its
/// loudness estimate asks for, or `muted` until the station turns it up;
/// records the slot's new player in `station.loudness`. The system MPlayer gets the options
/// below; a player program of the engineer's own gets the same in its
/// environment (KESTRELFIELD_LEVELS, KESTRELFIELD_SOURCE_LEVELS,
/// KESTRELFIELD_CONTROL, KESTRELFIELD_VOLUME) and may ignore them:
/// - the audio it decodes, handed over before its gain (what the source
///   sends) and after it (what is heard), through MPlayer's export filter,
///   added to the engineer's own filters, with a volume filter between them
///   that the software volume uses (named, so that it is never replaced);
/// - its control FIFO and the software volume the station sets through it;
/// - the sound device of `AudioDevice`, when given.
StartPlayer playerStart(Station& station, int slot, std::int16_t source, const std::string& address,
                        bool muted = false);

}  // namespace kestrel
