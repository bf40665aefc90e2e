#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "station/station_state.h"

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
    Port,    ///< a TCP port, 1 to 65535, kept as written
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

/// What a key reads as when the file does not give it.
enum class WhenAbsent {
    DirectoryPath,  ///< the station directory's path, as the station always has
    Empty,
    DirectoryName,  ///< the station directory's own name; also when empty
};

/// Bounds of a Number key: a value outside them is taken as the nearer one,
/// and 0, a negative value or no number at all gives `otherwise`. All zero:
/// the number as read.
struct NumberBounds {
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    std::int16_t otherwise = 0;
    /// 0 and negative numbers are values too: only no number gives `otherwise`.
    bool signedValues = false;
    /// With `signedValues`: 0 stays 0 (off) instead of being held.
    bool zeroIsOff = false;
    /// The field holds tenths: "1.5" reads as 15 (bounds in tenths too).
    bool tenths = false;
};

struct ConfigKey {
    std::string_view name;  ///< spelt as documented; the reader ignores case
    KeyKind kind;
    Need need = Need::Nothing;
    Feature usedBy = Feature::None;
    Feature alsoUsedBy = Feature::None;
    /// The field the key fills: `text` for Text, Url, Flag and Port keys, `number`
    /// for Number keys.
    std::string StationState::*text = nullptr;
    std::int16_t StationState::*number = nullptr;
    WhenAbsent absent = WhenAbsent::DirectoryPath;
    NumberBounds bounds{};
};

/// Every key of kestrelfield.ini the station reads. A key the station learns
/// to read is added here and nowhere else: the table fills the configuration
/// at start-up and tells the configuration check what to look for.
std::span<const ConfigKey> knownConfigKeys();

/// Fills every configuration field of `state` from the kestrelfield.ini of
/// `dir`; `directoryText` is what an absent key reads as.
void readConfigKeys(const std::filesystem::path& dir, const std::string& directoryText,
                    StationState& state);

/// A key of the table, whatever its case; nullptr when unknown.
const ConfigKey* findConfigKey(std::string_view name);

/// The port the API listens on when APIPort is absent.
inline constexpr std::uint16_t kDefaultApiPort = 1011;

/// The port a Port key's value names: kDefaultApiPort for an empty value,
/// nullopt for anything but a plain number from 1 to 65535.
std::optional<std::uint16_t> portNumber(std::string_view value);

/// The name of a station directory (its last path element).
std::string directoryName(const std::filesystem::path& dir);

/// True for an address that begins with http:// or https://, in any case.
bool isWebAddress(std::string_view text);

/// The known key nearest to a misspelt `name`; nullptr when none is near.
const ConfigKey* nearestConfigKey(std::string_view name);

}  // namespace kestrel
