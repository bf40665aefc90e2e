// Fuzzes the source list readers: on lines that begin with a digit the keyed
// lookup, the ten-key lookup and the table scan must agree.
#include <cstdint>
#include <string>

#include "fuzz_station.h"
#include "playback/source_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestrel::fuzz::FuzzStation scratch;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    scratch.write("sourcelist.ini", bytes);
    const auto file = scratch.dir() / "sourcelist.ini";
    const auto table = kestrel::scanSources(file);
    const auto digits = kestrel::lookupDigitSources(bytes);
    for (int n = 0; n <= 9; ++n) {
        const auto entry = kestrel::lookupSource(file, std::to_string(n));
        if (entry.name != digits.names[n] || entry.address != digits.addresses[n]) __builtin_trap();
        if (n == 0) continue;  // the scan also files lines without a digit under 0
        if (entry.name != table.names[n] || entry.address != table.addresses[n]) __builtin_trap();
    }
    for (const char* key : {"x", "12", ""})
        kestrel::lookupSource(file, key);
    return 0;
}
