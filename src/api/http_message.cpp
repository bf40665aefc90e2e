#include "api/http_message.h"

#include <algorithm>
#include <cctype>

namespace kestrel {
namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Where the header ends and the body begins; npos while the blank line has not come.
std::size_t bodyStart(std::string_view text) {
    const auto crlf = text.find("\r\n\r\n");
    const auto lf = text.find("\n\n");
    if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf + 1 < lf))
        return crlf + 4;
    return lf == std::string_view::npos ? lf : lf + 2;
}

// The header lines after the request line, split at LF with any CR dropped.
std::vector<std::string_view> headerLines(std::string_view header) {
    std::vector<std::string_view> lines;
    while (!header.empty()) {
        const auto end = std::min(header.find('\n'), header.size());
        std::string_view line = header.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        header.remove_prefix(std::min(end + 1, header.size()));
    }
    return lines;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 422:
            return "Unprocessable Content";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        default:
            return "Unknown";
    }
}

}  // namespace

std::string_view HttpRequest::header(std::string_view name) const {
    const std::string wanted = lowerCase(name);
    for (const auto& [key, value] : headers) {
        if (key == wanted) return value;
    }
    return {};
}

namespace {

struct Head {
    HttpRequest request;
    std::size_t bodyLength = 0;
};

// The request line and header lines before the blank line.
std::optional<Head> parseHead(std::string_view header) {
    const auto lines = headerLines(header);
    if (lines.empty()) return std::nullopt;
    Head head;
    HttpRequest& request = head.request;
    const std::string_view requestLine = lines.front();
    const auto firstBlank = requestLine.find(' ');
    const auto lastBlank = requestLine.rfind(' ');
    if (firstBlank == std::string_view::npos || firstBlank == lastBlank ||
        !requestLine.substr(lastBlank + 1).starts_with("HTTP/1.")) {
        return std::nullopt;
    }
    request.method = requestLine.substr(0, firstBlank);
    const std::string_view target = requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1);
    const auto question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string_view::npos) request.query = target.substr(question + 1);
    if (request.path.empty() || request.path.front() != '/') return std::nullopt;

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) continue;
        std::string name = lowerCase(trimmed(lines[i].substr(0, colon)));
        const std::string_view value = trimmed(lines[i].substr(colon + 1));
        if (name == "content-length") {
            if (value.empty() || value.size() > 12 ||
                value.find_first_not_of("0123456789") != std::string_view::npos) {
                return std::nullopt;
            }
            head.bodyLength = std::stoull(std::string(value));
        }
        if (name == "transfer-encoding") return std::nullopt;  // browsers send forms whole
        request.headers.emplace_back(std::move(name), std::string(value));
    }
    return head;
}

}  // namespace

std::optional<HttpRequest> parseRequest(std::string_view text) {
    const auto start = bodyStart(text);
    if (start == std::string_view::npos) return std::nullopt;
    auto head = parseHead(text.substr(0, start));
    if (!head || text.size() - start < head->bodyLength) return std::nullopt;
    head->request.body = text.substr(start, head->bodyLength);
    return std::move(head->request);
}

std::optional<HttpRequest> parseRequestHead(std::string_view text) {
    const auto start = bodyStart(text);
    if (start == std::string_view::npos) return std::nullopt;
    auto head = parseHead(text.substr(0, start));
    if (!head) return std::nullopt;
    return std::move(head->request);
}

RequestArrival requestArrival(std::string_view text, std::size_t maxBody) {
    const auto start = bodyStart(text);
    if (start == std::string_view::npos) {
        return text.size() > kMaxHeaderBytes ? RequestArrival::TooLarge : RequestArrival::Partial;
    }
    if (start > kMaxHeaderBytes) return RequestArrival::TooLarge;
    const auto head = parseHead(text.substr(0, start));
    if (!head) return RequestArrival::Malformed;
    if (head->bodyLength > maxBody) return RequestArrival::TooLarge;
    return text.size() - start >= head->bodyLength ? RequestArrival::Whole
                                                   : RequestArrival::Partial;
}

std::string percentDecoded(std::string_view text, bool plusIsBlank) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsBlank) {
            decoded += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::optional<std::string> formField(std::string_view form, std::string_view name) {
    while (true) {
        const auto end = std::min(form.find('&'), form.size());
        const std::string_view pair = form.substr(0, end);
        const auto equals = pair.find('=');
        if (percentDecoded(pair.substr(0, equals), true) == name) {
            if (equals == std::string_view::npos) return std::string();
            return percentDecoded(pair.substr(equals + 1), true);
        }
        if (end == form.size()) return std::nullopt;
        form.remove_prefix(end + 1);
    }
}

std::string_view cookieValue(std::string_view cookieHeader, std::string_view name) {
    while (!cookieHeader.empty()) {
        const auto end = std::min(cookieHeader.find(';'), cookieHeader.size());
        const std::string_view pair = trimmed(cookieHeader.substr(0, end));
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos && trimmed(pair.substr(0, equals)) == name)
            return trimmed(pair.substr(equals + 1));
        cookieHeader.remove_prefix(std::min(end + 1, cookieHeader.size()));
    }
    return {};
}

bool sameSecret(std::string_view given, std::string_view secret) {
    unsigned difference = given.size() != secret.size();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        const char c = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(c ^ secret[i]);
    }
    return difference == 0;
}

std::string httpResponse(int status, std::string_view contentType, std::string_view body,
                         const std::vector<std::string>& headers) {
    std::string bytes = "HTTP/1.0 " + std::to_string(status) + " " + reasonPhrase(status) +
                        "\r\nServer: Fernbeacon Server Version 1.1\r\n";
    bytes += "Content-Type: ";
    bytes += contentType;
    bytes += "\r\nContent-Length: ";
    bytes += std::to_string(body.size());
    bytes += "\r\n";
    for (const std::string& header : headers) {
        bytes += header;
        bytes += "\r\n";
    }
    bytes += "\r\n";
    bytes += body;
    return bytes;
}

}  // namespace kestrel
