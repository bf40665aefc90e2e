#include "playback/playback_start.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "metadata/player_log_reader.h"
#include "platform/station_command.h"
#include "platform/profile_reader.h"

namespace kestrel {
namespace {

// How often a starting player is looked at, in milliseconds: the old slot
// ends at most this long after the new one has begun to play.
constexpr std::int64_t kLookEveryMs = 100;
// A new player not yet seen running counts as ended only after this long.
constexpr std::int64_t kShowUpMs = 1000;

}  // namespace

bool somethingOnAir(Station& station) {
    for (int slot : {1, 2}) {
        if (station.platform.processes.check(playerExecutable(slot)) != ProcessCheck::NotRunning) {
            return true;
        }
    }
    return false;
}

bool onAirPlayerRuns(Station& station) {
    const int slot = station.onAirSlot();
    return slot != 0 &&
           station.platform.processes.check(playerExecutable(slot)) == ProcessCheck::Running;
}

Task<NewPlayer> awaitPlayback(Station& station, int slot, double overlapSeconds,
                              double timeoutSeconds) {
    // Whole milliseconds, as the event loop counts them: seconds since the
    // clock's epoch would add float noise to every wait.
    const Clock& clock = station.platform.clock;
    const double startedAt = clock.steadySeconds();
    const auto elapsedMs = [&] { return std::llround((clock.steadySeconds() - startedAt) * 1000); };
    const auto overlapMs = std::llround(overlapSeconds * 1000);
    const auto timeoutMs = std::llround(timeoutSeconds * 1000);
    const std::string executable = playerExecutable(slot);
    const auto log = station.file(playerLogFile(slot));
    PlayerLogReader reader;
    bool seenRunning = false;
    bool playing = false;
    for (;;) {
        const auto elapsed = elapsedMs();
        const ProcessCheck process = station.platform.processes.check(executable);
        seenRunning = seenRunning || process == ProcessCheck::Running;
        if (process == ProcessCheck::NotRunning && (seenRunning || elapsed >= kShowUpMs)) {
            co_return NewPlayer::Ended;
        }
        if (!playing && reader.update(log) == PlayerLogReader::Outcome::Read) {
            playing = reader.fields().playbackStarted.has_value();
        }
        if (playing && elapsed >= overlapMs) co_return NewPlayer::Playing;
        if (elapsed >= timeoutMs) {
            std::error_code unknown;
            const bool logEmpty = std::filesystem::file_size(log, unknown) == 0 || unknown;
            co_return logEmpty ? NewPlayer::Unseen : NewPlayer::TimedOut;
        }
        const auto nextDeadline = playing ? overlapMs : timeoutMs;
        const auto waitMs = std::min<long long>(kLookEveryMs, nextDeadline - elapsed);
        co_await station.Pause(static_cast<double>(waitMs) / 1000.0);
    }
}

}  // namespace kestrel
