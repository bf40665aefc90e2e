#pragma once

#include <string_view>

namespace kestrel {

/// The control room's style sheet, shared by all its pages.
std::string_view controlStyle();

/// The control room's script: the live state of status.json on the pages
/// that show it, orders sent without leaving the page, and the key of a page
/// opened with one carried on to the other pages' links.
std::string_view controlScript();

}  // namespace kestrel
