#pragma once

#include <string>
#include <string_view>

namespace kestrel {

/// A station text (8-bit bytes, read as utf8FromStationText reads them) as
/// HTML or XML text and attribute content: & < > " ' escaped.
std::string htmlText(std::string_view stationText);

}  // namespace kestrel
