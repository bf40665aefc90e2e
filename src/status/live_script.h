#pragma once

#include <string_view>

namespace kestrel {

/// The script functions that the status page and the control room share to
/// show status.json: `$`, `paint`, `showLabels` (every element named like a
/// label of the window shows its caption and colours) and `showMeter` (the
/// on-air slot's levels in the element "meterBars", titled in "meterTitle").
std::string_view liveScript();

}  // namespace kestrel
