#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kestrel {

/// The inodes of the sockets a process holds open (its /proc/PID/fd links
/// "socket:[N]"); empty when it holds none or its descriptors cannot be read.
std::vector<std::uint64_t> socketInodes(pid_t pid, const std::filesystem::path& procRoot = "/proc");

/// The bytes received so far by those of `inodes` that are TCP sockets (IPv4
/// or IPv6), from the kernel's socket diagnostics (tcp_info's
/// tcpi_bytes_received). Players read their streams with recv(), which the
/// `rchar` count of /proc/PID/io does not see. nullopt when the kernel cannot
/// be asked.
std::optional<std::uint64_t> tcpBytesReceived(const std::vector<std::uint64_t>& inodes);

}  // namespace kestrel
