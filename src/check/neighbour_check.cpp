#include "check/neighbour_check.h"

#include <optional>
#include <vector>

#include "check/config_keys.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Past this many entries of a directory the rest is not looked at: a station
// directory beside a crowded one is not what this check is for.
constexpr int kMostEntries = 1000;

struct Api {
    bool on = false;
    std::string address;  ///< empty: all addresses
    std::uint16_t port = kDefaultApiPort;
};

struct Neighbour {
    fs::path dir;
    Api api;
    std::string name;
};

std::optional<Neighbour> stationIn(const fs::path& dir) {
    std::error_code error;
    if (!fs::is_regular_file(dir / kConfigFile, error)) return std::nullopt;
    StationState state;
    readConfigKeys(dir, dir.string(), state);
    const auto port = portNumber(state.APIPort);
    return Neighbour{dir,
                     {state.APIallowed == "1", state.APIBind, port.value_or(kDefaultApiPort)},
                     state.StationName};
}

// A path in a message, whole, with unprintable bytes shown as "?".
std::string quotedPath(const fs::path& path) {
    std::string text = path.string();
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return "\"" + text + "\"";
}

bool allAddresses(const std::string& address) {
    return address.empty() || address == "0.0.0.0" || address == "::";
}

bool sameListener(const Api& a, const Api& b) {
    return a.on && b.on && a.port == b.port &&
           (allAddresses(a.address) || allAddresses(b.address) || a.address == b.address);
}

void addStationsUnder(const fs::path& parent, const fs::path& except, std::vector<fs::path>& out) {
    std::error_code error;
    int entries = 0;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        if (++entries > kMostEntries) break;
        std::error_code typeError;
        if (it->path() != except && it->is_directory(typeError)) out.push_back(it->path());
    }
}

}  // namespace

void checkNeighbours(const fs::path& dir, Findings& findings) {
    const auto own = stationIn(dir);
    if (!own) return;
    std::vector<fs::path> beside;
    const fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) {
        beside.push_back(parent);
        addStationsUnder(parent, dir, beside);
    }
    addStationsUnder(dir, {}, beside);
    for (const fs::path& other : beside) {
        const auto neighbour = stationIn(other);
        if (!neighbour) continue;
        if (sameListener(own->api, neighbour->api)) {
            findings.add(kConfigFile, 0,
                         "the API's port " + std::to_string(own->api.port) + " on " +
                             (allAddresses(own->api.address) ? std::string("all addresses")
                                                             : inQuotes(own->api.address)) +
                             " is also the API of the station in " + quotedPath(other) +
                             ": while both run, only the first to start answers (set APIPort "
                             "or APIBind apart)");
        }
        if (own->name == neighbour->name) {
            findings.add(kConfigFile, 0,
                         "StationName " + inQuotes(own->name) +
                             " is also the name of the station in " + quotedPath(other) +
                             ": their metrics look alike");
        }
    }
}

}  // namespace kestrel
