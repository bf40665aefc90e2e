#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace kestrel {

inline constexpr const char* kHistoryFile = "history.log";

/// The station's own record of the last day, for the look back: the journal
/// events that tell what played and what went wrong, and the on-air slot's
/// level per minute. Kept in memory and appended to a file of the station
/// directory, so that it outlives a restart; the file is bounded by starting
/// afresh once it is large, its previous part kept beside it as FILE.1.
struct HistoryEntry {
    double at = 0;      ///< seconds since 1970-01-01 UTC
    std::string event;  ///< the journal's event name; "start" and "level" are the history's own
    std::vector<std::pair<std::string, std::string>> fields;

    /// The field's value; empty when the entry has none.
    std::string_view field(std::string_view key) const;
};

class History {
public:
    /// What is kept in memory: a day and an hour.
    static constexpr double kKeptSeconds = 25 * 3600;
    /// A file part this large is set aside and a new one begun.
    static constexpr std::uintmax_t kFileBytes = 1024 * 1024;
    /// Entries kept at most, however busy the day.
    static constexpr std::size_t kMostEntries = 100000;

    /// What appending to the file came to: nullopt when nothing was appended
    /// (no file open, no entry), else the error (none: written).
    using Appended = std::optional<std::error_code>;

    /// Whether the journal event `event` belongs in the history.
    static bool keeps(std::string_view event);

    bool isOpen() const { return !m_file.empty(); }

    /// Reads the entries of the last day from `file` and its previous part,
    /// skipping lines that do not read as entries, then records a "start"
    /// entry and from then on appends every entry to `file`.
    Appended open(std::filesystem::path file, double now);

    /// Records an entry, kept in memory whether or not the file takes it.
    Appended add(double at, std::string event,
                 std::vector<std::pair<std::string, std::string>> fields);

    /// One look at the on-air slot: `source` on air (-1 none) at `at`, its
    /// RMS (the loudest channel's) or nullopt without data. A minute's looks
    /// become one "level" entry with their mean once the next minute begins.
    Appended sampleLevel(double at, int source, std::optional<double> rmsDbfs);

    /// The entries in the order of their times, oldest first.
    const std::deque<HistoryEntry>& entries() const { return m_entries; }
    /// The latest "switch" or "start" entry dropped from memory for its age:
    /// what was on air when the kept entries begin.
    const std::optional<HistoryEntry>& carried() const { return m_carried; }

    /// The file line of an entry, and an entry from a line (nullopt when the
    /// line does not read as one).
    static std::string line(const HistoryEntry& entry);
    static std::optional<HistoryEntry> parse(std::string_view line);

private:
    void keep(HistoryEntry entry);
    void dropOlderThan(double at);
    Appended append(const HistoryEntry& entry);

    std::deque<HistoryEntry> m_entries;
    std::optional<HistoryEntry> m_carried;
    std::filesystem::path m_file;
    std::uintmax_t m_fileBytes = 0;

    // The minute being sampled (seconds since 1970 / 60) and its sums.
    std::int64_t m_minute = -1;
    double m_levelSum = 0;
    int m_levelCount = 0;
    int m_levelSource = -1;
};

}  // namespace kestrel
