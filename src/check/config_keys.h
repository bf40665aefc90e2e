#pragma once

#include <span>
#include <string_view>

namespace kestrel {

/// The configuration file of a station directory, and its one section.
inline constexpr const char* kConfigFile = "kestrelfield.ini";
inline constexpr const char* kConfigSection = "Kestrelfield";

/// What a kestrelfield.ini value is read as.
enum class KeyKind {
    Text,
    Url,     ///< an http:// or https:// address
    Flag,    ///< on only for exactly "1"
    Number,  ///< the leading number, rounded to 16 bits
};

/// The features that configuration switches on; `Always` is the part of the
/// station that runs whatever the configuration says.
enum class Feature { None, Always, Management, ChangePoll, Api, Air, Weather };

/// What a feature needs of a key while it is on.
enum class Need {
    Nothing,  ///< absent and empty are both fine
    Present,  ///< absent reads as the directory's path, which is never meant
    Value,    ///< neither absent nor empty
};

struct ConfigKey {
    std::string_view name;  ///< spelt as documented; the reader ignores case
    KeyKind kind;
    Need need = Need::Nothing;
    Feature usedBy = Feature::None;
    Feature alsoUsedBy = Feature::None;
};

/// Every key of kestrelfield.ini the station reads. A key the station learns
/// to read is added here, so that the configuration check knows it.
std::span<const ConfigKey> knownConfigKeys();

/// A key of the table, whatever its case; nullptr when unknown.
const ConfigKey* findConfigKey(std::string_view name);

/// True for an address that begins with http:// or https://, in any case.
bool isWebAddress(std::string_view text);

/// The known key nearest to a misspelt `name`; nullptr when none is near.
const ConfigKey* nearestConfigKey(std::string_view name);

}  // namespace kestrel
