// Fuzzes the player log parser: fed in arbitrary pieces it must give the same
// fields as one pass over the whole log.
#include <cstdint>
#include <string_view>

#include "metadata/player_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    kestrel::PlayerLogParser whole;
    whole.feed(text);
    kestrel::PlayerLogParser pieces;
    const std::size_t step = data[0] % 17 + 1;
    for (std::size_t at = 0; at < text.size(); at += step)
        pieces.feed(text.substr(at, step));
    if (!(whole.fields() == pieces.fields())) __builtin_trap();
    return 0;
}
