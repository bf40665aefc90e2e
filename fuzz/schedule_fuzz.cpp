// Fuzzes the schedule file through the next-event calculation and one executor tick.
#include <cstdint>
#include <string>

#include "fuzz_station.h"
#include "scheduler/event_calculation.h"
#include "scheduler/event_executor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestrel::fuzz::FuzzStation scratch;
    scratch.write("sourceevents.ini", std::string_view(reinterpret_cast<const char*>(data), size));
    auto& state = scratch.station.state;
    for (int weekday : {2, 7}) {
        scratch.time.weekday = weekday;
        kestrel::tmrLoadEventsAndCalculate(scratch.station);
        if (state.NextEvent.size() != 10 || state.LastEvent.size() != 10) __builtin_trap();
        kestrel::tmrCheckAndDoEvents(scratch.station);
    }
    return 0;
}
