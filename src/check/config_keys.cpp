#include "check/config_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <numeric>
#include <vector>

#include "platform/profile_reader.h"

namespace kestrel {
namespace {

using enum KeyKind;
using enum Need;
using enum Feature;

using S = StationState;

constexpr std::array kKeys{
    ConfigKey{"DefaultStrapline", Text, Present, Always, None, &S::DefaultStrapline},
    ConfigKey{"ExtraMetaNowPlaying", Text, Present, Always, None, &S::ExtraMetaNowPlaying},
    ConfigKey{"ManagementUpdate", Number, Nothing, None, None, {}, &S::ManagementUpdate},
    ConfigKey{"ManagementSendURL", Url, Value, Management, None, &S::ManagementSendURL},
    ConfigKey{"ManagementURL", Url, Value, Management, None, &S::ManagementURL},
    ConfigKey{"ManagementKey", Text, Present, Management, ChangePoll, &S::ManagementKey},
    ConfigKey{"ManagementSwitcher", Text, Present, Management, ChangePoll, &S::ManagementSwitcher},
    ConfigKey{"CheckForChanges", Number, Nothing, None, None, {}, &S::CheckForChanges},
    ConfigKey{"CheckForChangeURL", Url, Value, ChangePoll, None, &S::CheckForChangeURL},
    ConfigKey{"APIallowed", Flag, Nothing, None, None, &S::APIallowed},
    ConfigKey{"APIKey", Text, Value, Api, None, &S::APIkey},
    ConfigKey{"AIRenable", Flag, Nothing, None, None, &S::AIRenable},
    ConfigKey{"AIRid", Text, Value, Air, None, &S::AIRid},
    ConfigKey{"AIRpartnerid", Text, Value, Air, None, &S::AIRpartnerid},
    ConfigKey{"AIRpartnerKey", Text, Value, Air, None, &S::AIRpartnerkey},
    ConfigKey{"AIRdefaultTitle", Text, Present, Air, None, &S::AIRdefaultTitle},
    ConfigKey{"AIRdefaultArtist", Text, Present, Air, None, &S::AIRdefaultArtist},
    ConfigKey{"DoNotPrefixWhenContains", Text, Nothing, None, None, &S::DoNotPrefixWhenContains},
    ConfigKey{"MetaWeather", Flag, Nothing, None, None, &S::MetaWeather},
    ConfigKey{"MetaOpenWeatherMapKey", Text, Value, Weather, None, &S::MetaOpenWeatherMapKey},
    ConfigKey{"MetaLocation", Text, Value, Weather, None, &S::MetaLocation},
    ConfigKey{"CheckSource", Flag, Nothing, None, None, &S::CheckSource},
    // Optional, with a default when absent. Seconds a switch may wait for its
    // new player: never shorter than the overlap, never so long that two
    // sources play together for more than ten minutes.
    ConfigKey{"SwitchTimeout",
              Number,
              Nothing,
              None,
              None,
              {},
              &S::SwitchTimeout,
              WhenAbsent::DirectoryPath,
              {2, 600, 10}},
    // The address and port the API listens on; absent: all addresses, port 1011.
    ConfigKey{"APIBind", Text, Nothing, None, None, &S::APIBind, {}, WhenAbsent::Empty},
    ConfigKey{"APIPort", Port, Nothing, None, None, &S::APIPort, {}, WhenAbsent::Empty},
    // What the station is called where many are seen together (the metrics).
    ConfigKey{
        "StationName", Text, Nothing, None, None, &S::StationName, {}, WhenAbsent::DirectoryName},
    // A silence on air: every channel below SilenceLevel dBFS for SilenceSeconds.
    ConfigKey{"SilenceLevel",
              Number,
              Nothing,
              None,
              None,
              {},
              &S::SilenceLevel,
              WhenAbsent::DirectoryPath,
              {-90, -10, -40, true}},
    ConfigKey{"SilenceSeconds",
              Number,
              Nothing,
              None,
              None,
              {},
              &S::SilenceSeconds,
              WhenAbsent::DirectoryPath,
              {2, 600, 15, true, true}},
    // The loudness every source is played at, in LUFS; 0 or absent: off.
    ConfigKey{"TargetLoudness",
              Number,
              Nothing,
              None,
              None,
              {},
              &S::TargetLoudness,
              WhenAbsent::DirectoryPath,
              {-30, -10, 0, true, true}},
    // Seconds of the fade at a switch; 0: both sources at full level in the overlap.
    ConfigKey{"CrossfadeSeconds",
              Number,
              Nothing,
              None,
              None,
              {},
              &S::CrossfadeTenths,
              WhenAbsent::DirectoryPath,
              {0, 100, 10, true, false, true}},
    // The ALSA device the players play on; absent: MPlayer's own choice.
    ConfigKey{"AudioDevice", Text, Nothing, None, None, &S::AudioDevice, {}, WhenAbsent::Empty},
};

bool hasLeadingNumber(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    if (text[i] == '+' || text[i] == '-') ++i;
    if (i < text.size() && text[i] == '.') ++i;
    return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
}

std::int16_t numberOf(const ConfigKey& key, const std::string& text) {
    const double read = leadingNumber(text) * (key.bounds.tenths ? 10 : 1);
    const auto number = static_cast<std::int16_t>(
        std::clamp(std::nearbyint(read), -32768.0, 32767.0));  // halves to even
    const NumberBounds& b = key.bounds;
    if (b.signedValues) {
        if (!hasLeadingNumber(text)) return b.otherwise;
        if (number == 0 && b.zeroIsOff) return 0;
    } else {
        if (b.highest == 0) return number;
        if (number <= 0) return b.otherwise;
    }
    return std::clamp(number, b.lowest, b.highest);
}

std::size_t editDistanceIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const std::size_t replace = diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, replace});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::span<const ConfigKey> knownConfigKeys() {
    return kKeys;
}

void readConfigKeys(const std::filesystem::path& dir, const std::string& directoryText,
                    StationState& state) {
    const auto file = dir / kConfigFile;
    for (const ConfigKey& key : kKeys) {
        std::string value =
            readProfileString(file, kConfigSection, std::string(key.name), directoryText);
        if (key.absent == WhenAbsent::Empty && value == directoryText) value.clear();
        if (key.absent == WhenAbsent::DirectoryName && (value == directoryText || value.empty()))
            value = directoryName(dir);
        if (key.number) {
            state.*key.number = numberOf(key, value);
        } else {
            state.*key.text = std::move(value);
        }
    }
}

const ConfigKey* findConfigKey(std::string_view name) {
    const auto found = std::find_if(kKeys.begin(), kKeys.end(), [&](const ConfigKey& key) {
        return sameProfileName(key.name, name);
    });
    return found == kKeys.end() ? nullptr : &*found;
}

std::optional<std::uint16_t> portNumber(std::string_view value) {
    if (value.empty()) return kDefaultApiPort;
    if (value.size() > 5 || value.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const unsigned long port = std::stoul(std::string(value));
    if (port < 1 || port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

std::string directoryName(const std::filesystem::path& dir) {
    auto path = dir.lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    return path.filename().string();
}

bool isWebAddress(std::string_view text) {
    return sameProfileName(text.substr(0, 7), "http://") ||
           sameProfileName(text.substr(0, 8), "https://");
}

const ConfigKey* nearestConfigKey(std::string_view name) {
    const ConfigKey* nearest = nullptr;
    std::size_t best = 0;
    for (const ConfigKey& key : kKeys) {
        const std::size_t distance = editDistanceIgnoringCase(name, key.name);
        // Up to two slips, or one in four characters of a long name.
        if (distance > std::max<std::size_t>(2, key.name.size() / 4)) continue;
        if (nearest == nullptr || distance < best) {
            nearest = &key;
            best = distance;
        }
    }
    return nearest;
}

}  // namespace kestrel
