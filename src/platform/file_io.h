#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel {

/// Reads a whole file's bytes; false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& file, std::string& bytes);

/// Replaces `file` with `bytes` so that a reader sees either the old or the
/// new content, never a half-written one: the bytes go to a temporary file in
/// the same directory, which is then renamed over `file`. On any failure
/// (full disk, no permission) the old file is left as it was and false is
/// returned.
bool replaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

/// Appends `bytes` to `file`, creating it when absent. False on failure.
bool appendToFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace kestrel
