// Fuzzes both source list disciplines; on lines that begin with a digit they must agree.
#include <cstdint>
#include <string>

#include "fuzz_station.h"
#include "playback/source_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestrel::fuzz::FuzzStation scratch;
    scratch.write("sourcelist.ini", std::string_view(reinterpret_cast<const char*>(data), size));
    const auto file = scratch.dir() / "sourcelist.ini";
    const auto table = kestrel::scanSources(file);
    for (int n = 1; n <= 9; ++n) {
        const auto entry = kestrel::lookupSource(file, std::to_string(n));
        if (entry.name != table.names[n] || entry.address != table.addresses[n]) __builtin_trap();
    }
    for (const char* key : {"x", "12", ""})
        kestrel::lookupSource(file, key);
    return 0;
}
