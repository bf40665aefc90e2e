// Fuzzes the configuration reader with arbitrary kestrelfield.ini content.
#include <cstdint>
#include <string>

#include "fuzz_station.h"
#include "platform/profile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestrel::fuzz::FuzzStation scratch;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    scratch.write("kestrelfield.ini", bytes);
    const auto file = scratch.dir() / "kestrelfield.ini";
    for (const char* key : {"APIallowed", "DefaultStrapline", "ManagementUpdate", "x"}) {
        const std::string value = kestrel::readProfileString(file, "Kestrelfield", key, "/dir");
        if (value.size() > kestrel::kProfileValueMax && value != "/dir") __builtin_trap();
        kestrel::profileNumber(value);
    }
    kestrel::profileNumber(bytes);
    return 0;
}
