#pragma once

#include <string_view>

namespace kestrel {

/// The status page: one self-contained HTML document (no outside resources)
/// that mirrors the status window from status.json every second and offers
/// the operator's source selector and "Force Switch Now" through setcurrent.
/// It asks for status.json and setcurrent with its own query string, so the
/// key it was opened with is the key it uses.
std::string_view statusPage();

}  // namespace kestrel
