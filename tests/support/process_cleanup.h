#pragma once

#include <sys/types.h>

#include <filesystem>
#include <vector>

namespace kestrel::test {

/// Pids of this user's player processes (comm or argv[0] "mplayer1" or "mplayer2")
/// that a station in `stationDir` started: the station's own, as it finds them.
std::vector<pid_t> playersIn(const std::filesystem::path& stationDir);

/// Whether process `pid` exists and has not ended (a zombie has ended).
bool stillRunning(pid_t pid);

/// Ends (SIGKILL) the players a station in `stationDir` started; returns how many.
int killPlayersIn(const std::filesystem::path& stationDir);

}  // namespace kestrel::test
