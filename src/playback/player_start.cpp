#include "playback/player_start.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "playback/loudness_gain.h"

namespace kestrel {
namespace {

// Samples per channel each export hands over; MPlayer logs a complaint at
// every start without a size.
constexpr const char* kExportSize = ":512";

}  // namespace

double playerVolume(std::optional<double> gainDb) {
    if (!gainDb) return 0;
    const double unity = 100 * 100 / kSoftvolMaxPercent;
    return std::clamp(unity * std::pow(10.0, *gainDb / 20), 0.0, 100.0);
}

std::string volumeCommand(std::optional<double> gainDb) {
    char text[32];
    std::snprintf(text, sizeof text, "volume %.3f 1", playerVolume(gainDb));
    return text;
}

std::optional<std::string> alsaOutputOption(const std::string& device) {
    if (device.empty()) return std::nullopt;
    std::string option = "alsa:device=";
    for (const char c : device) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (c == ':') {
            option += '=';
        } else if (c == ',') {
            option += '.';
        } else if (plain) {
            option += c;
        } else {
            return std::nullopt;
        }
    }
    return option;
}

StartPlayer playerStart(Station& station, int slot, std::int16_t source, const std::string& address,
                        bool muted) {
    SlotLoudness& player = station.loudness.slot(slot);
    player = SlotLoudness{source, address, player.starts + 1};
    player.gainDb = startGainDb(station.loudness, source, address, station.state.TargetLoudness);
    player.fadeDb = muted ? std::nullopt : std::optional(0.0);
    const std::optional<double> gainDb = muted ? std::nullopt : std::optional(player.gainDb);
    player.volume = playerVolume(gainDb);

    StartPlayer start{slot, address};
    auto& options = start.playerOptions;
    auto& environment = start.environment;
    char volume[16];
    std::snprintf(volume, sizeof volume, "%.3f", playerVolume(gainDb));
    const auto control = station.platform.control.renew(slot);
    if (!control.empty()) {
        options.insert(options.end(), {"-input", "file=" + control.string()});
        environment.emplace_back("KESTRELFIELD_CONTROL", control.string());
    }
    char softvolMax[16];
    std::snprintf(softvolMax, sizeof softvolMax, "%.0f", kSoftvolMaxPercent);
    options.insert(options.end(), {"-softvol", "-softvol-max", softvolMax, "-volume", volume});
    environment.emplace_back("KESTRELFIELD_VOLUME", volume);
    const auto& levels = station.platform.levels;
    const std::string sent = levels.file(slot, TapPoint::Source).string();
    const std::string heard = levels.file(slot, TapPoint::Heard).string();
    if (!sent.empty() && !heard.empty()) {
        options.insert(options.end(), {"-af-add", "export=" + sent + kExportSize +
                                                      ",volume,export=" + heard + kExportSize});
        environment.emplace_back("KESTRELFIELD_SOURCE_LEVELS", sent);
        environment.emplace_back("KESTRELFIELD_LEVELS", heard);
    } else {
        options.insert(options.end(), {"-af-add", "volume"});
    }
    if (const auto output = alsaOutputOption(station.state.AudioDevice))
        options.insert(options.end(), {"-ao", *output});
    return start;
}

}  // namespace kestrel
