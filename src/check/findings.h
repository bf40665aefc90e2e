#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

/// One problem the configuration check found.
struct Finding {
    std::string file;
    std::size_t line = 0;  ///< 0: the file as a whole
    std::string message;
};

/// The findings of one check, in the order found. Past `kShownPerFile` of
/// one file, further findings are only counted, so that a binary or garbage
/// file gives a readable report.
class Findings {
public:
    static constexpr std::size_t kShownPerFile = 50;

    void add(std::string_view file, std::size_t line, std::string message);

    std::size_t count() const { return m_count; }
    /// The findings shown, in the order found.
    const std::vector<Finding>& shown() const { return m_shown; }

    /// "FILE:LINE: message" (or "FILE: message") for each finding shown, in
    /// file and line order; after a file's last one, the count of its
    /// findings left out.
    /// FILE is `prefix` followed by the file's name.
    std::vector<std::string> report(std::string_view prefix = {}) const;

private:
    struct FileCount {
        std::size_t order = 0;  ///< files are reported in the order first found
        std::size_t count = 0;
    };

    std::vector<Finding> m_shown;
    std::map<std::string, FileCount, std::less<>> m_perFile;
    std::size_t m_count = 0;
};

/// `text` for a message: bytes outside printable ASCII shown as "?", cut
/// after 40 characters.
std::string printable(std::string_view text);

/// printable(text) in double quotes.
std::string inQuotes(std::string_view text);

}  // namespace kestrel
