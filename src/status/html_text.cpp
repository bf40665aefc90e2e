#include "status/html_text.h"

#include "station/utf8_text.h"

namespace kestrel {

std::string htmlText(std::string_view stationText) {
    std::string out;
    for (const char c : utf8FromStationText(stationText)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace kestrel
