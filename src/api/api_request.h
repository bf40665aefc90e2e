#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "station/station.h"

namespace kestrel {

/// Reads a whole file's bytes, false when it cannot; the station uses readWholeFile.
using FileReader = std::function<bool(const std::filesystem::path& file, std::string& bytes)>;

/// Whether the whole of `text` matches "GET * HTTP/1.?*": it begins with "GET ",
/// and " HTTP/1." follows later with at least one more character after it.
/// Case-sensitive; "*" spans line breaks. Linear in the text's length.
bool matchesRequestPattern(std::string_view text);

/// Whether appending more data to `text` could still make it match.
bool mayBecomeRequest(std::string_view text);

/// The text between the first "GET " and the first " HTTP/1." after it, verbatim;
/// empty when either marker is missing.
std::string requestPath(std::string_view text);

/// The content type of the station's plain answers.
inline constexpr const char* kHtmlContentType = "text/html";

/// The whole of one response: the header lines with the content type and the
/// body's byte count, a blank line, then `body`.
std::string responseWithHeader(std::string_view body,
                               std::string_view contentType = kHtmlContentType);

/// How a failure while handling a request is shown: its description, CR LF,
/// " Line of error:" and the number of the failing stage.
std::string failureText(std::string_view description, int stage);

/// Numbers of the handling stages, as failure texts report them.
namespace api_stage {
inline constexpr int receive = 12;
inline constexpr int path = 13;
inline constexpr int switchSource = 22;
inline constexpr int listSources = 33;
inline constexpr int streamTitle = 43;
inline constexpr int statusPages = 45;
inline constexpr int statusLine = 50;
inline constexpr int header = 54;
inline constexpr int send = 56;
}  // namespace api_stage

struct RequestOutcome {
    bool matched = false;  ///< the text matched the request pattern
    std::string path;      ///< the request path (empty when not matched)
    std::string_view contentType = kHtmlContentType;
    std::string bytes;    ///< header and body, to go out as one send
    std::string failure;  ///< empty, or the failure text of the stage that failed
    /// The outcome of a switch request's order, true once its source is on
    /// air; `bytes` go out when it is known (see `answerToFailedSwitch`).
    std::optional<Task<bool>> switching;
};

/// The answer to a switch request whose source did not go on air (its switch
/// failed, or a newer wish replaced it first): the source on air (as
/// `getcurrent` shows it) and "ERROR".
std::string answerToFailedSwitch(const DisplayModel& display);

/// Answers one received text. A matching text gets the answer of its
/// endpoint: the four station requests as text/html, status.json,
/// status.html and the Prometheus metrics ("ERROR" for any other path,
/// always text/html); a text that does not match gets "ERROR". Sets
/// `response` to the body. A switch request builds its answer, journals
/// itself with `client` (the peer's address), then gives the API's order
/// with the request's key; the caller sends the answer once its source is
/// on air, or `answerToFailedSwitch` when it did not get there. Never throws: a failing stage makes
/// the answer "ERROR" and is described in `failure`. The source list is read through `readFile`,
/// once per list request. The key is compared in a time that depends only on the lengths of the key
/// and of the path.
RequestOutcome handleRequest(Station& station, std::string_view text,
                             const FileReader& readFile = readWholeFile,
                             std::string_view client = {});

}  // namespace kestrel
