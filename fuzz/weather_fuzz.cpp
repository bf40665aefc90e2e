// Fuzzes the weather answer reader.
#include <cstdint>
#include <string>

#include "metadata/weather.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    const auto sentence = kestrel::weatherSentence(answer);
    if (sentence && sentence->rfind("The temperature in ", 0) != 0) __builtin_trap();
    return 0;
}
