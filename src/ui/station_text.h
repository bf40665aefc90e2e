#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kestrel {

/// A station text (8-bit bytes) for the screen: UTF-8 where the bytes are
/// valid UTF-8, otherwise Latin-1, so every byte shows as some character.
QString fromStationText(std::string_view bytes);

/// What the operator typed, as station text (UTF-8).
std::string toStationText(const QString& text);

}  // namespace kestrel
