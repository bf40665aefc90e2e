#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrel {

/// Reads a whole file's bytes; false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& file, std::string& bytes);

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
