#pragma once

#include <string>
#include <string_view>

namespace kestrel {

/// A station text (8-bit bytes) as UTF-8, read the way the window reads it:
/// bytes that are valid UTF-8 stay as they are, anything else is taken as
/// Latin-1, so every byte becomes some character.
std::string utf8FromStationText(std::string_view bytes);

}  // namespace kestrel
