#include "check/config_keys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <numeric>
#include <vector>

#include "platform/profile_reader.h"

namespace kestrel {
namespace {

using enum KeyKind;
using enum Need;
using enum Feature;

constexpr std::array kKeys{
    ConfigKey{"DefaultStrapline", Text, Present, Always},
    ConfigKey{"ExtraMetaNowPlaying", Text, Present, Always},
    ConfigKey{"ManagementUpdate", Number},
    ConfigKey{"ManagementSendURL", Url, Value, Management},
    ConfigKey{"ManagementURL", Url, Value, Management},
    ConfigKey{"ManagementKey", Text, Present, Management, ChangePoll},
    ConfigKey{"ManagementSwitcher", Text, Present, Management, ChangePoll},
    ConfigKey{"CheckForChanges", Number},
    ConfigKey{"CheckForChangeURL", Url, Value, ChangePoll},
    ConfigKey{"APIallowed", Flag},
    ConfigKey{"APIKey", Text, Value, Api},
    ConfigKey{"AIRenable", Flag},
    ConfigKey{"AIRid", Text, Value, Air},
    ConfigKey{"AIRpartnerid", Text, Value, Air},
    ConfigKey{"AIRpartnerKey", Text, Value, Air},
    ConfigKey{"AIRdefaultTitle", Text, Present, Air},
    ConfigKey{"AIRdefaultArtist", Text, Present, Air},
    ConfigKey{"DoNotPrefixWhenContains", Text},
    ConfigKey{"MetaWeather", Flag},
    ConfigKey{"MetaOpenWeatherMapKey", Text, Value, Weather},
    ConfigKey{"MetaLocation", Text, Value, Weather},
    ConfigKey{"CheckSource", Flag},
    // Optional, with a default when absent: seconds a switch may take (10), and
    // the address the API listens on (all addresses).
    ConfigKey{"SwitchTimeout", Number},
    ConfigKey{"APIBind", Text},
};

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

const ConfigKey* findConfigKey(std::string_view name) {
    const auto found = std::find_if(kKeys.begin(), kKeys.end(), [&](const ConfigKey& key) {
        return sameProfileName(key.name, name);
    });
    return found == kKeys.end() ? nullptr : &*found;
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
