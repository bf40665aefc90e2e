#include "api/api_request.h"

#include <exception>

#include "api/http_message.h"
#include "playback/orders.h"
#include "playback/source_list.h"
#include "station/station_events.h"
#include "status/metrics_text.h"
#include "status/status_json.h"
#include "status/status_page.h"

namespace kestrel {
namespace {

constexpr std::string_view kGet = "GET ";
constexpr std::string_view kHttp = " HTTP/1.";
constexpr const char* kCrLf = "\r\n";

std::string sourceLines(const std::string& number, const SourceEntry& entry) {
    return "Source: " + number + kCrLf + "URL: " + entry.address + kCrLf + "Name: " + entry.name +
           kCrLf + "Volume: 100" + kCrLf;
}

std::string currentSourceBody(const DisplayModel& display) {
    return sourceLines(display.lblSourceNumber.caption,
                       {display.lblStudio.caption, display.lblCurrentSource.caption});
}

std::string sourceListBody(const Station& station, const FileReader& readFile) {
    std::string bytes;
    readFile(station.file(kSourceListFile), bytes);  // unreadable: every entry stays empty
    const SourceTable sources = lookupDigitSources(bytes);
    std::string body;
    for (int d = 1; d <= 9; ++d) {
        body += sourceLines(std::to_string(d), {sources.names[d], sources.addresses[d]});
    }
    body += sourceLines("BACKUP", {sources.names[0], sources.addresses[0]});
    return body;
}

// Whether `path` is `endpoint` followed by the key: exactly, or with more text
// after it when `exact` is false. The key is compared over its whole length
// whatever the path holds, so every wrong key of one length takes the same time.
bool keyedPath(std::string_view path, std::string_view endpoint, std::string_view key, bool exact) {
    if (!path.starts_with(endpoint)) return false;
    const std::string_view given = path.substr(endpoint.size());
    unsigned difference = exact ? given.size() != key.size() : given.size() < key.size();
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(c ^ key[i]);
    }
    return difference == 0;
}

// Sets `response` and the content type for the request path; `stage` follows the step being run.
void answer(Station& station, const std::string& path, const FileReader& readFile,
            std::string_view client, int& stage, RequestOutcome& outcome) {
    auto& state = station.state;
    const std::string& key = state.APIkey;

    if (keyedPath(path, "/api/getcurrent.php?id=", key, true)) {
        state.response = currentSourceBody(station.display);
    }
    if (keyedPath(path, "/api/setcurrent.php?id=", key, false)) {
        stage = api_stage::switchSource;
        const std::string sourceKey(1, path.back());
        state.response = "Source: " + sourceKey + kCrLf + "OK" + kCrLf;
        recordApiSwitchRequest(station, client, sourceKey);
        outcome.switching = apiSwitch(station, sourceKey);
    }
    stage = api_stage::listSources;
    if (keyedPath(path, "/api/listsources.php?id=", key, true)) {
        state.response = sourceListBody(station, readFile);
    }
    stage = api_stage::streamTitle;
    if (keyedPath(path, "/api/metadata.php?id=", key, true)) {
        state.response = station.display.lblRXmetadata.caption + kCrLf + "OK" + kCrLf;
    }
    stage = api_stage::statusPages;
    if (keyedPath(path, "/api/status.json?id=", key, true)) {
        state.response = statusJson(station);
        outcome.contentType = kJsonContentType;
    }
    if (keyedPath(path, "/api/status.html?id=", key, true)) {
        state.response = statusPage();
    }
    if (keyedPath(path, "/api/metrics?id=", key, true)) {
        state.response = metricsText(station);
        outcome.contentType = kMetricsContentType;
    }
}

}  // namespace

std::string answerToFailedSwitch(const DisplayModel& display) {
    return responseWithHeader("Source: " + display.lblSourceNumber.caption + kCrLf + "ERROR" +
                              kCrLf);
}

bool matchesRequestPattern(std::string_view text) {
    if (!text.starts_with(kGet)) return false;
    // The earliest marker leaves the most text after it, so it alone decides.
    const auto marker = text.find(kHttp, kGet.size());
    return marker != std::string_view::npos && marker + kHttp.size() < text.size();
}

bool mayBecomeRequest(std::string_view text) {
    return text.size() < kGet.size() ? kGet.starts_with(text) : text.starts_with(kGet);
}

std::string requestPath(std::string_view text) {
    const auto get = text.find(kGet);
    if (get == std::string_view::npos) return {};
    const auto start = get + kGet.size();
    const auto marker = text.find(kHttp, start);
    if (marker == std::string_view::npos) return {};
    return std::string(text.substr(start, marker - start));
}

std::string responseWithHeader(std::string_view body, std::string_view contentType) {
    return httpResponse(200, contentType, body);
}

std::string failureText(std::string_view description, int stage) {
    return std::string(description) + kCrLf + " Line of error:" + std::to_string(stage);
}

RequestOutcome handleRequest(Station& station, std::string_view text, const FileReader& readFile,
                             std::string_view client) {
    auto& state = station.state;
    RequestOutcome outcome;
    int stage = api_stage::path;
    try {
        outcome.matched = matchesRequestPattern(text);
        state.response = "ERROR";
        if (outcome.matched) {
            outcome.path = requestPath(text);
            answer(station, outcome.path, readFile, client, stage, outcome);
        }
        stage = api_stage::header;
        outcome.bytes = responseWithHeader(state.response, outcome.contentType);
        return outcome;
    } catch (const std::exception& failure) {
        outcome.failure = failureText(failure.what(), stage);
    } catch (...) {
        outcome.failure = failureText("Unexpected failure", stage);
    }
    try {
        state.response = "ERROR";
        outcome.contentType = kHtmlContentType;
        outcome.bytes = responseWithHeader(state.response);
    } catch (...) {
        outcome.bytes.clear();  // nothing can be built; the connection is just closed
    }
    return outcome;
}

}  // namespace kestrel
