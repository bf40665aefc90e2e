#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {

/// True when `candidate` (a process's comm or the base name of its argv[0])
/// names the executable `executableName`: equal without regard to case, with
/// or without a trailing ".exe" on either side. An empty name matches nothing.
bool isProcessName(std::string_view candidate, std::string_view executableName);

/// The ids of the live processes of this user (same real uid, not zombies)
/// that have the name `executableName`. nullopt when `procRoot` cannot be
/// read or lists no process at all, i.e. when the question cannot be answered.
/// Reads a few small files per process; never blocks for long.
std::optional<std::vector<pid_t>> findProcessesByName(
    std::string_view executableName, const std::filesystem::path& procRoot = "/proc");

/// The `rchar` count of /proc/PID/io: bytes the process has read through
/// read-like calls. nullopt when the file cannot be read (the process ended,
/// or belongs to someone else).
std::optional<std::uint64_t> readCharacters(pid_t pid,
                                            const std::filesystem::path& procRoot = "/proc");

/// Whether /proc still lists the process.
bool processExists(pid_t pid, const std::filesystem::path& procRoot = "/proc");

}  // namespace kestrel
