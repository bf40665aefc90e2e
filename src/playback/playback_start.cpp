#include "playback/playback_start.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "metadata/player_log_reader.h"
#include "platform/profile_reader.h"
#include "platform/station_command.h"
#include "playback/output_watch.h"

namespace kestrel {
namespace {

// How often a starting player is looked at, in milliseconds: the old slot
// ends at most this long after the new one has begun to play.
constexpr std::int64_t kLookEveryMs = 100;
// A new player not yet seen running counts as ended only after this long.
constexpr std::int64_t kShowUpMs = 1000;

}  // namespace

bool mayRun(Station& station, int slot) {
    return station.platform.processes.check(playerExecutable(slot)) != ProcessCheck::NotRunning;
}

bool onAirPlayerRuns(Station& station) {
    const int slot = station.onAirSlot();
    return slot != 0 &&
           station.platform.processes.check(playerExecutable(slot)) == ProcessCheck::Running;
}

Task<NewPlayer> awaitPlayback(Station& station, int slot, double overlapSeconds,
                              double timeoutSeconds, std::optional<SoundTest> sound,
                              std::function<bool()> stillWanted) {
    // Whole milliseconds, as the event loop counts them: seconds since the
    // clock's epoch would add float noise to every wait.
    const Clock& clock = station.platform.clock;
    const double startedAt = clock.steadySeconds();
    const auto elapsedMs = [&] { return std::llround((clock.steadySeconds() - startedAt) * 1000); };
    const auto overlapMs = std::llround(overlapSeconds * 1000);
    const auto timeoutMs = std::llround(timeoutSeconds * 1000);
    const std::string executable = playerExecutable(slot);
    const auto log = station.file(playerLogFile(slot));
    const SlotLevels& levels = station.audio.judged(slot);
    PlayerLogReader reader;
    bool seenRunning = false;
    std::optional<long long> playingSince;
    std::optional<long long> soundSince;
    for (;;) {
        const auto elapsed = elapsedMs();
        const ProcessCheck process = station.platform.processes.check(executable);
        seenRunning = seenRunning || process == ProcessCheck::Running;
        const bool logRead = reader.update(log) == PlayerLogReader::Outcome::Read;
        if (logRead && reportsNoOutput(reader.fields())) co_return NewPlayer::NoOutput;
        if (process == ProcessCheck::NotRunning && (seenRunning || elapsed >= kShowUpMs)) {
            co_return NewPlayer::Ended;
        }
        if (!playingSince && logRead && reader.fields().playbackStarted) playingSince = elapsed;
        if (!playingSince && levels.decodedSince(startedAt)) playingSince = elapsed;
        // Asked once this look has read what the player did: a player that has
        // begun playback is told apart from one that has not.
        if (stillWanted && !stillWanted())
            co_return playingSince ? NewPlayer::UnwantedPlaying : NewPlayer::Unwanted;
        auto nextDeadline = playingSince ? overlapMs : timeoutMs;
        bool plays = playingSince.has_value();
        if (sound && playingSince) {
            const auto& now = levels.levels();
            if (!now || !hasSound(*now, sound->levelDbfs)) {
                soundSince.reset();
            } else if (!soundSince) {
                soundSince = elapsed;
            }
            const auto holdMs = std::llround(sound->holdSeconds * 1000);
            plays = soundSince && elapsed - *soundSince >= holdMs;
            if (!soundSince && elapsed - *playingSince >= std::llround(sound->withinSeconds * 1000))
                co_return NewPlayer::Silent;
            nextDeadline = std::max(overlapMs, elapsed + kLookEveryMs);
        }
        if (plays && elapsed >= overlapMs) co_return NewPlayer::Playing;
        if (!playingSince && elapsed >= timeoutMs) {
            std::error_code unknown;
            const bool logEmpty = std::filesystem::file_size(log, unknown) == 0 || unknown;
            co_return logEmpty ? NewPlayer::Unseen : NewPlayer::TimedOut;
        }
        const auto waitMs = std::clamp<long long>(nextDeadline - elapsed, 1, kLookEveryMs);
        co_await station.Pause(static_cast<double>(waitMs) / 1000.0);
    }
}

}  // namespace kestrel
