#include "check/config_check.h"

#include <array>
#include <cstdio>
#include <map>
#include <set>

#include "check/config_keys.h"
#include "check/station_file.h"
#include "platform/profile_reader.h"
#include "platform/text_lines.h"
#include "playback/player_start.h"

namespace kestrel {
namespace {

constexpr std::string_view kFile = kConfigFile;

struct FeatureSwitch {
    Feature feature;
    std::string_view key;
    std::string_view name;
    bool (*isOn)(const std::string& value);
    std::string_view turnsOn;  ///< which values switch it on
};

bool flagOn(const std::string& value) {
    return value == "1";
}

constexpr std::array kSwitches{
    FeatureSwitch{Feature::Management, "ManagementUpdate", "management",
                  [](const std::string& v) { return profileNumber(v) > 0; }, "a number above 0"},
    FeatureSwitch{Feature::ChangePoll, "CheckForChanges", "change polling",
                  [](const std::string& v) { return profileNumber(v) == 1; }, "only 1"},
    FeatureSwitch{Feature::Api, "APIallowed", "the API", flagOn, "only 1"},
    FeatureSwitch{Feature::Air, "AIRenable", "TuneIn AIR", flagOn, "only 1"},
    FeatureSwitch{Feature::Weather, "MetaWeather", "the weather sentence", flagOn, "only 1"},
};

struct KeyLine {
    std::size_t line = 0;
    std::size_t length = 0;  ///< of the value before the reader's cut
};

// A flag value that says "off" in words: it reads as off, as meant.
bool meansOff(const std::string& value) {
    for (const char* off : {"", "0", "n", "no", "off", "false"}) {
        if (sameProfileName(value, off)) return true;
    }
    return false;
}

// An integer as written, within 16 bits: it reads as what it says.
bool plainInteger(const std::string& value) {
    const std::size_t first = !value.empty() && (value[0] == '+' || value[0] == '-') ? 1 : 0;
    if (value.size() == first || value.size() - first > 5) return false;
    if (value.find_first_not_of("0123456789", first) != std::string::npos) return false;
    return std::stol(value) == profileNumber(value);
}

// A decimal number as written ("1.5", "-2", "0.25"): it reads as what it says.
bool plainDecimal(const std::string& value) {
    std::size_t i = !value.empty() && (value[0] == '+' || value[0] == '-') ? 1 : 0;
    const std::size_t digits = value.find_first_not_of("0123456789", i);
    const std::size_t end = digits == std::string::npos ? value.size() : digits;
    if (end == value.size()) return end > i;
    if (value[end] != '.' || end + 1 == value.size()) return false;
    return value.find_first_not_of("0123456789", end + 1) == std::string::npos;
}

class ConfigCheck {
public:
    ConfigCheck(const std::filesystem::path& dir, const std::string& directoryText,
                Findings& findings)
        : m_path(dir / kConfigFile), m_directory(directoryText), m_findings(findings) {}

    void scan(const std::string& bytes);
    bool sectionFound() const { return m_sectionLine > 0; }
    void checkValues();
    ConfigFacts checkFeatures();
    void checkApiExposure();

private:
    void add(std::size_t line, std::string message) {
        m_findings.add(kFile, line, std::move(message));
    }
    /// The value the station reads for `key`.
    const std::string& read(std::string_view key) {
        auto [value, added] = m_values.try_emplace(key);
        if (added) {
            value->second =
                readProfileString(m_path, kConfigSection, std::string(key), m_directory);
        }
        return value->second;
    }
    std::string written(const ConfigKey& key) {
        return std::string(key.name) + "=" + printable(read(key.name));
    }

    std::filesystem::path m_path;
    std::string m_directory;
    Findings& m_findings;
    std::size_t m_sectionLine = 0;
    std::map<const ConfigKey*, KeyLine> m_keys;  ///< the line the station reads for each key
    std::map<std::string_view, std::string> m_values;
};

void ConfigCheck::scan(const std::string& bytes) {
    enum class Where { BeforeSection, OtherSection, Section, After };
    Where where = Where::BeforeSection;
    std::vector<std::size_t> outside;  // reported only when the section exists
    std::size_t number = 0;
    for (const std::string& line : splitLines(bytes)) {
        ++number;
        const ProfileLine parsed = parseProfileLine(line);
        switch (parsed.kind) {
            case ProfileLine::Kind::Blank:
            case ProfileLine::Kind::Comment:
                break;
            case ProfileLine::Kind::Section:
                if (where == Where::Section || where == Where::After) {
                    where = Where::After;
                    add(number, "section [" + std::string(parsed.name) + "] is not read: ignored");
                } else if (sameProfileName(parsed.name, kConfigSection)) {
                    where = Where::Section;
                    m_sectionLine = number;
                } else {
                    where = Where::OtherSection;
                    add(number, "section [" + std::string(parsed.name) + "] is not read: ignored");
                }
                break;
            case ProfileLine::Kind::NoEquals:
                if (where == Where::Section) add(number, "no \"=\" in the line: ignored");
                break;
            case ProfileLine::Kind::Entry:
                if (where == Where::BeforeSection) outside.push_back(number);
                if (where != Where::Section) break;
                const ConfigKey* key = findConfigKey(parsed.name);
                if (key == nullptr) {
                    std::string message = "unknown key " + inQuotes(parsed.name) + ": ignored";
                    if (const ConfigKey* nearest = nearestConfigKey(parsed.name)) {
                        message += " (did you mean " + std::string(nearest->name) + "?)";
                    }
                    add(number, message);
                } else if (const auto first = m_keys.find(key); first != m_keys.end()) {
                    add(number, printable(parsed.name) + " again: ignored, line " +
                                    std::to_string(first->second.line) + " is read");
                } else {
                    m_keys[key] = {number, parsed.value.size()};
                }
                break;
        }
    }
    if (!sectionFound()) return;
    for (std::size_t line : outside)
        add(line, "outside the [Kestrelfield] section: ignored");
}

void ConfigCheck::checkValues() {
    for (const auto& [key, at] : m_keys) {
        const std::string value = read(key->name);
        if (at.length > kProfileValueMax) {
            add(at.line, std::string(key->name) + " is " + std::to_string(at.length) +
                             " characters long: the station reads only the first " +
                             std::to_string(kProfileValueMax));
        }
        if (key->kind == KeyKind::Flag && !flagOn(value) && !meansOff(value)) {
            add(at.line, written(*key) + " reads as off: only 1 turns it on");
        }
        if (key->kind == KeyKind::Number && key->bounds.tenths) {
            if (!plainDecimal(value)) add(at.line, written(*key) + " is no number: ignored");
        } else if (key->kind == KeyKind::Number && !plainInteger(value)) {
            add(at.line, written(*key) + " reads as " + std::to_string(profileNumber(value)));
        }
        if (key->kind == KeyKind::Port && !portNumber(value)) {
            add(at.line, written(*key) + " is no port from 1 to 65535: the API listens on port " +
                             std::to_string(kDefaultApiPort));
        }
        if (key->text == &StationState::AudioDevice && !value.empty() && !alsaOutputOption(value)) {
            add(at.line, written(*key) +
                             " cannot be handed to MPlayer (letters, digits and \"_-:,\" only): "
                             "the players use MPlayer's own choice");
        }
        if (key->kind == KeyKind::Url && !value.empty() && !isWebAddress(value)) {
            add(at.line, std::string(key->name) + " " + inQuotes(value) +
                             " is not an http:// or https:// address");
        }
    }
}

ConfigFacts ConfigCheck::checkFeatures() {
    ConfigFacts facts;
    std::set<const ConfigKey*> reported;  // a key two features need is reported once
    // `switchText` says what turned the feature on; empty for the station's core.
    const auto checkNeeds = [&](Feature feature, std::size_t switchLine,
                                const std::string& switchText) {
        for (const ConfigKey& key : knownConfigKeys()) {
            if (key.need == Need::Nothing || reported.contains(&key)) continue;
            if (key.usedBy != feature && key.alsoUsedBy != feature) continue;
            const std::string name(key.name);
            const auto at = m_keys.find(&key);
            if (at == m_keys.end()) {
                add(switchLine, (switchText.empty() ? "" : switchText + ", but ") + name +
                                    " is absent and reads as the directory's path \"" +
                                    m_directory + "\"");
                reported.insert(&key);
            } else if (key.need == Need::Value && read(key.name).empty()) {
                add(at->second.line,
                    name + " is empty" + (switchText.empty() ? "" : ", but " + switchText));
                reported.insert(&key);
            }
        }
    };
    checkNeeds(Feature::Always, m_sectionLine, "");
    for (const FeatureSwitch& feature : kSwitches) {
        const ConfigKey& key = *findConfigKey(feature.key);
        const auto at = m_keys.find(&key);
        if (at == m_keys.end()) continue;  // absent: off, as meant
        const std::string value = read(key.name);
        const std::string name(feature.name);
        if (!feature.isOn(value)) {
            if (key.kind == KeyKind::Number && profileNumber(value) != 0) {
                add(at->second.line, written(key) + " leaves " + name +
                                         " off: " + std::string(feature.turnsOn) + " turns it on");
            }
            continue;
        }
        if (feature.feature == Feature::Management) facts.managementOn = true;
        checkNeeds(feature.feature, at->second.line, written(key) + " turns " + name + " on");
    }
    return facts;
}

// Whether the API listens on this machine's loopback only: an IPv4 address
// 127.x.x.x or ::1. Anything else, an address or none, is open.
bool loopbackOnly(const std::string& bind) {
    if (bind == "::1") return true;
    unsigned a = 0, b = 0, c = 0, d = 0;
    char more = 0;
    return bind.find_first_not_of("0123456789.") == std::string::npos &&
           std::sscanf(bind.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &more) == 4 && a == 127 &&
           b < 256 && c < 256 && d < 256;
}

// An API open beyond this machine with a key that anyone has read (the
// example's) or could guess: whoever reaches the port switches the station.
void ConfigCheck::checkApiExposure() {
    const ConfigKey& allowed = *findConfigKey("APIallowed");
    const ConfigKey& key = *findConfigKey("APIKey");
    const ConfigKey& bind = *findConfigKey("APIBind");
    const auto at = m_keys.find(&key);
    const bool bound = m_keys.contains(&bind);
    if (!m_keys.contains(&allowed) || !flagOn(read(allowed.name)) || at == m_keys.end() ||
        (bound && loopbackOnly(read(bind.name)))) {
        return;
    }
    const std::string value = read(key.name);
    const std::string open =
        bound ? ", and the API listens beyond this machine (" + written(bind) + ")"
              : ", and the API listens on every address (no APIBind)";
    if (value == kExampleApiKey) {
        add(at->second.line, "APIKey is the example's key" + open +
                                 ": anyone who has read it can switch the station");
    } else if (!value.empty() && value.size() < kShortestApiKey) {
        add(at->second.line, "APIKey has only " + std::to_string(value.size()) + " characters" +
                                 open + ": " + std::to_string(kShortestApiKey) +
                                 " or more resist guessing");
    }
}

}  // namespace

ConfigFacts checkConfig(const std::filesystem::path& dir, const std::string& directoryText,
                        Findings& findings) {
    constexpr std::string_view kWithout =
        "every key reads as the directory's path, so every feature is off";
    const auto bytes = readFileToCheck(dir, {kFile, kWithout}, findings);
    if (!bytes) return {};
    ConfigCheck check(dir, directoryText, findings);
    check.scan(*bytes);
    if (!check.sectionFound()) {
        findings.add(kFile, 0, "no [Kestrelfield] section: " + std::string(kWithout));
        return {};
    }
    check.checkValues();
    const ConfigFacts facts = check.checkFeatures();
    check.checkApiExposure();
    return facts;
}

}  // namespace kestrel
