#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrel {

/// Reads a whole file's bytes; false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& file, std::string& bytes);

/// What tells one state of a file from another without reading it. A write,
/// a truncation or a replacement changes the stamp; only a rewrite to the
/// same size within the file system's time granularity (a few milliseconds)
/// of the stamp's change could keep it, which no person editing a file and
/// no player appending to its log does.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

/// The stamp of `file`; nullopt when it cannot be looked at (missing).
std::optional<FileStamp> fileStampOf(const std::filesystem::path& file);

/// A file's bytes, read again only when its stamp changed: an edit is seen
/// at the next read, and a file that stays as it is costs one look.
class CachedFile {
public:
    /// The bytes of `file` as it stands; nullptr when it cannot be read.
    const std::string* read(const std::filesystem::path& file);

private:
    std::filesystem::path m_file;
    std::optional<FileStamp> m_stamp;  ///< of m_bytes; none: nothing held
    std::string m_bytes;
};

/// Replaces `file` with `bytes` so that a reader, and the file after a power
/// cut, holds either the old or the new content, never a half-written one:
/// the bytes go to a temporary file in the same directory, which is synced,
/// renamed over `file`, and the directory synced. On any failure (full disk,
/// no permission, read-only) the old file is left as it was and the error is
/// returned; a default (false) error_code means it was written.
std::error_code replaceFileDurably(const std::filesystem::path& file, std::string_view bytes);

/// Appends `bytes` to `file`, creating it when absent. False on failure.
bool appendToFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace kestrel
