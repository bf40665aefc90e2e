#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

/// One HTTP/1.x request as the control room reads it.
struct HttpRequest {
    std::string method;  ///< "GET", "POST", ...
    std::string path;    ///< the target before "?", verbatim
    std::string query;   ///< the target after "?", verbatim; empty without one
    /// Header lines in their order, names in lower case, values without the
    /// blanks around them.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    /// The first header of this name (any case); empty when absent.
    std::string_view header(std::string_view name) const;
};

/// How much of a request a text holds.
enum class RequestArrival {
    Partial,    ///< more is to come: the header's end, or the body
    Whole,      ///< the header and the Content-Length bytes of body
    Malformed,  ///< no request line, a Content-Length that is no number
    TooLarge,   ///< a header beyond kMaxHeaderBytes, or a body beyond the bound given
};

inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;

/// Whether `text` holds a whole request, with a body of at most `maxBody` bytes.
RequestArrival requestArrival(std::string_view text, std::size_t maxBody);

/// The request of a text whose arrival is Whole (the body cut to its
/// Content-Length); nullopt when it is malformed.
std::optional<HttpRequest> parseRequest(std::string_view text);

/// The request line and header lines of a text whose header has arrived,
/// with an empty body; nullopt while it has not, or when it is malformed.
std::optional<HttpRequest> parseRequestHead(std::string_view text);

/// %XX escapes decoded, and "+" as a blank when `plusIsBlank` (form data).
/// A "%" not followed by two hex digits stays as it is.
std::string percentDecoded(std::string_view text, bool plusIsBlank);

/// The decoded value of the first field `name` of form data or a query
/// string ("a=1&b=2"); nullopt when there is none.
std::optional<std::string> formField(std::string_view form, std::string_view name);

/// The value of cookie `name` in a Cookie header; empty when absent.
std::string_view cookieValue(std::string_view cookieHeader, std::string_view name);

/// Whether two texts are equal, in a time that depends only on their lengths.
bool sameSecret(std::string_view given, std::string_view secret);

/// A whole HTTP/1.0 response: status line, the station's Server line, the
/// content type and length, `headers` (each "Name: value"), a blank line,
/// then `body`.
std::string httpResponse(int status, std::string_view contentType, std::string_view body,
                         const std::vector<std::string>& headers = {});

}  // namespace kestrel
