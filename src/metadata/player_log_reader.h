#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "metadata/player_log.h"
#include "platform/file_io.h"

namespace kestrel {

/// Follows a player log across ticks and reads only what was appended since
/// the last read. Its fields always equal those of a full read of the log as
/// it stands (once any backlog above the per-read budget is caught up).
///
/// A log counts as the one read before while it is the same path, is not
/// shorter than the position reached, and still holds the same bytes at its
/// start and just before that position; otherwise (replaced, truncated,
/// recreated by a new player, even one that has already grown past the old
/// position) it is read again from the top. The file is opened and closed
/// within each read, so the player can go on appending; a log whose stamp
/// has not changed since a read reached its end is not opened at all.
class PlayerLogReader {
public:
    /// One read parses at most `maxBytesPerRead` new bytes; the rest waits
    /// for the next read so that one tick never stalls on a huge log.
    explicit PlayerLogReader(std::uint64_t maxBytesPerRead = kDefaultMaxBytesPerRead);

    enum class Outcome {
        Read,        ///< fields are up to date with the log (or its first part)
        Missing,     ///< no file of that name
        Unreadable,  ///< the file exists but could not be read
    };

    /// Reads what `file` gained since the last read. Unless the outcome is
    /// Read, the next read starts from the top.
    Outcome update(const std::filesystem::path& file);

    /// The fields of everything read; the unterminated last line counts as a
    /// line once the read has reached the end of the log.
    PlayerLogFields fields() const;

    /// Starts the next read from the top.
    void forget();

    /// Bytes of the log parsed so far.
    std::uint64_t position() const { return m_position; }

    static constexpr std::uint64_t kDefaultMaxBytesPerRead = 256ull * 1024 * 1024;

private:
    Outcome readAppended(const std::filesystem::path& file);
    bool stillTheSameLog(std::istream& in, std::uint64_t size);
    bool readFrom(std::istream& in, std::uint64_t end);

    std::uint64_t m_maxBytesPerRead;
    std::filesystem::path m_file;
    std::optional<FileStamp> m_stamp;  ///< of the log when a read last reached its end
    std::uint64_t m_position = 0;
    std::string m_head;  // the log's first bytes, up to kWindow
    std::string m_tail;  // the bytes just before m_position, up to kWindow
    bool m_atEnd = false;
    PlayerLogParser m_parser;
    std::unique_ptr<char[]> m_buffer;
};

}  // namespace kestrel
