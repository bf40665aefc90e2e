#include "station/station.h"

namespace kestrel {

void Station::Pause(double interval) {
    const double start = platform.clock.steadySeconds();
    for (;;) {
        const double remaining = interval - (platform.clock.steadySeconds() - start);
        if (remaining <= 0) return;
        platform.clock.sleepFor(remaining);
    }
}

void Station::run(const std::string& commandLine, WindowStyle style) {
    platform.runner.run(commandLine, style);
}

}  // namespace kestrel
