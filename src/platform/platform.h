#pragma once

#include <filesystem>

#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/process_table.h"
#include "platform/url_fetcher.h"

namespace kestrel {

/// Everything the station core uses of the outside world. Not owned.
struct Platform {
    Clock& clock;
    CommandRunner& runner;
    ProcessTable& processes;
    UrlFetcher& InetAIR;
    UrlFetcher& InetWeather;
    UrlFetcher& InetTestURL;
    UrlFetcher& Inet1;
    /// The station directory; every file name the station uses is relative to it.
    std::filesystem::path workdir;
};

}  // namespace kestrel
