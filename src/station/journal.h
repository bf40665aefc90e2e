#pragma once

#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kestrel {

/// The station's event journal: one logfmt line per event, written at once
/// onto a stream (stderr on a station, where journald keeps it), for example
///   time=2026-12-07T08:30:00 level=info event=switch cause=schedule source=3 slot=2 result=ok
/// Values are written as UTF-8, quoted and escaped where logfmt needs it.
class Journal {
public:
    enum class Level { Info, Warning };

    struct Field {
        std::string_view key;
        std::string value;
    };

    /// Writes to `out`; nullptr writes nothing.
    explicit Journal(std::ostream* out);

    void setOutput(std::ostream* out) { m_out = out; }
    /// Begins each line with its syslog priority ("<6>", "<4>"), which
    /// journald reads as the entry's priority when stderr is the journal.
    void setPriorityPrefix(bool on) { m_priorityPrefix = on; }

    /// Sees every event written, also while there is no output.
    using Observer =
        std::function<void(std::string_view event, std::initializer_list<Field> fields)>;
    void setObserver(Observer observer) { m_observer = std::move(observer); }

    /// One line: time, level, event, then the fields in their order.
    void write(std::string_view time, Level level, std::string_view event,
               std::initializer_list<Field> fields);

private:
    std::ostream* m_out;
    Observer m_observer;
    bool m_priorityPrefix = false;
};

/// A logfmt value: as it is when it needs no quotes, else in double quotes
/// with '"', '\' and control characters escaped.
std::string logfmtValue(std::string_view value);

}  // namespace kestrel
