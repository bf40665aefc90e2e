#include "station/journal.h"

#include <cstdio>
#include <ostream>

#include "station/utf8_text.h"

namespace kestrel {

Journal::Journal(std::ostream* out) : m_out(out) {}

std::string logfmtValue(std::string_view value) {
    bool quote = value.empty();
    for (const char c : value) {
        const auto code = static_cast<unsigned char>(c);
        if (code <= ' ' || code == 0x7F || c == '=' || c == '"' || c == '\\') quote = true;
    }
    if (!quote) return std::string(value);
    std::string text = "\"";
    for (const char c : value) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (code < ' ' || code == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

void Journal::write(std::string_view time, Level level, std::string_view event,
                    std::initializer_list<Field> fields) {
    if (m_observer) m_observer(event, fields);
    if (!m_out) return;
    std::string line;
    if (m_priorityPrefix) line = level == Level::Warning ? "<4>" : "<6>";
    line += "time=";
    line += time;
    line += level == Level::Warning ? " level=warning event=" : " level=info event=";
    line += event;
    for (const auto& field : fields) {
        line += ' ';
        line += field.key;
        line += '=';
        line += logfmtValue(utf8FromStationText(field.value));
    }
    line += '\n';
    m_out->write(line.data(), static_cast<std::streamsize>(line.size()));
    m_out->flush();
}

}  // namespace kestrel
