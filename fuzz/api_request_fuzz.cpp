// Fuzzes the API request handling: any received text gets one whole HTTP
// answer whose Content-Length matches its body.
#include <cstdint>
#include <string>

#include "api/api_request.h"
#include "fuzz_station.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestrel::fuzz::FuzzStation scratch;
    static const bool ready = [] {
        scratch.write("sourcelist.ini",
                      "1n:One\r\n1u:http://one.test/live\r\n0u:http://zero.test/b\r\n");
        scratch.station.state.APIkey = "k";
        return true;
    }();
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto outcome = kestrel::handleRequest(scratch.station, text);
    const auto blank = outcome.bytes.find("\r\n\r\n");
    if (blank == std::string::npos) __builtin_trap();
    const auto lengthAt = outcome.bytes.find("Content-Length: ");
    if (lengthAt == std::string::npos || lengthAt > blank) __builtin_trap();
    const auto length = std::stoul(outcome.bytes.substr(lengthAt + 16));
    if (length != outcome.bytes.size() - blank - 4) __builtin_trap();
    if (!scratch.station.state.TransferString.empty()) __builtin_trap();
    return 0;
}
