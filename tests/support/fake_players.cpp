#include "support/fake_players.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <string_view>

#include "platform/station_command.h"
#include "support/fake_clock.h"

namespace kestrel::test {

std::string commandText(const StationCommand& command) {
    if (const auto* start = std::get_if<StartPlayer>(&command))
        return "cmd /c " + playerExecutable(start->slot) + " " + start->address + " -quiet >" +
               playerLogFile(start->slot);
    if (const auto* stop = std::get_if<StopPlayer>(&command))
        return "taskkill /f /im " + playerExecutable(stop->slot);
    if (const auto* del = std::get_if<DeleteFile>(&command)) return "cmd /c del " + del->file;
    return "notepad " + std::get<OpenEditor>(command).file;
}

std::int64_t FakePlayers::nowMs() const {
    return clock ? clock->ms() : 0;
}

void FakePlayers::advance() const {
    const auto now = nowMs();
    for (auto it = m_running.begin(); it != m_running.end();) {
        Player& player = it->second;
        const auto reached = [&](double seconds) {
            return seconds >= 0 &&
                   now >= player.startedMs + static_cast<std::int64_t>(seconds * 1000.0);
        };
        const auto logLine = [&](std::string_view line) {
            if (diskFull) return;
            std::ofstream(m_workdir / player.logFile, std::ios::binary | std::ios::app)
                << '\n'
                << line << '\n';
            grew(player.logFile, line.size() + 2);
        };
        const bool ends = reached(player.behaviour.endsAfter);
        if (!ends && !player.playing && reached(player.behaviour.startsPlaybackAfter)) {
            player.playing = true;
            logLine("Starting playback...");
        }
        const auto& b = player.behaviour;
        const bool stalledLongEnough = b.stallsAfter >= 0 &&
                                       reached(b.stallsAfter + kCacheLastsSeconds) &&
                                       (b.stallLasts < 0 || b.stallLasts > kCacheLastsSeconds);
        if (!ends && stalledLongEnough && !player.cacheEmptyLogged) {
            player.cacheEmptyLogged = true;
            logLine(
                "Cache empty, consider increasing -cache and/or -cache-min. [performance issue]");
        }
        // A player that lost its device stays stuck: MPlayer does not open it again.
        if (!ends && player.playing && (outputMissing || player.stuckLoggedMs >= 0)) {
            constexpr std::int64_t kLineEveryMs = 30;
            if (player.stuckLoggedMs < 0) player.stuckLoggedMs = now;
            for (; player.stuckLoggedMs + kLineEveryMs <= now; player.stuckLoggedMs += kLineEveryMs)
                logLine("[AO_ALSA] Cannot get pcm status: No such device");
        }
        if (ends) ended(it->first, player);
        it = ends ? m_running.erase(it) : std::next(it);
    }
}

void FakePlayers::ended(const std::string& executable, const Player& player) const {
    const int slot = executable == playerExecutable(2) ? 2 : 1;
    const auto sound = soundOfUrl.find(player.url);
    if (player.playing && sound != soundOfUrl.end() && sound->second) {
        // One block written after the station's last read.
        m_leftBlock[slot] =
            AudioBlock{player.counter + 1, 2, std::vector<std::int16_t>(2 * kSamplesPerChannel)};
    }
    if (endsVia && m_ended) endsVia->callAfter(0, [ended = m_ended, slot] { ended(slot); });
}

void FakePlayers::grew(const std::string& log, std::uintmax_t bytes, bool truncated) const {
    std::uintmax_t& size = m_logBytes[log];
    size = truncated ? bytes : size + bytes;
    m_largestLog = std::max(m_largestLog, size);
}

std::int64_t FakePlayers::sendingMs(const Player& player, std::int64_t now) const {
    const auto& b = player.behaviour;
    const auto at = [&](double seconds) { return player.startedMs + std::llround(seconds * 1000); };
    const std::int64_t alive = now - player.startedMs - player.lostMs;
    if (b.stallsAfter < 0 || now < at(b.stallsAfter)) return alive;
    const double kept = b.trickles ? 0.25 : 0;
    if (b.stallLasts < 0 || now < at(b.stallsAfter + b.stallLasts)) {
        return at(b.stallsAfter) - player.startedMs - player.lostMs +
               std::llround(static_cast<double>(now - at(b.stallsAfter)) * kept);
    }
    return alive - std::llround(b.stallLasts * 1000 * (1 - kept));
}

std::optional<std::uint64_t> FakePlayers::bytesRead(const std::string& executableName) {
    advance();
    const auto player = m_running.find(executableName);
    if (checksFail || player == m_running.end()) return std::nullopt;
    const std::int64_t now = nowMs();
    m_sockets.clear();
    for (const auto& [executable, running] : m_running) {
        if (now >= running.startedMs + std::llround(running.behaviour.connectsAfter * 1000)) {
            m_sockets.add(running.socket, static_cast<std::uint64_t>(sendingMs(running, now)) *
                                              kIntakeBytesPerSecond / 1000);
        }
    }
    m_held.assign(2, player->second.socket);  // the player's and its cache's
    return tcpBytesReceived(m_held, &m_knownSockets[executableName],
                            std::chrono::steady_clock::time_point(std::chrono::milliseconds(now)),
                            m_sockets);
}

bool FakePlayers::run(const StationCommand& command, WindowStyle style) {
    advance();
    if (beforeRun) beforeRun(command);
    m_issued.push_back({commandText(command), command, style, nowMs()});
    if (const auto* start = std::get_if<StartPlayer>(&command)) {
        if (!isPlayerSlot(start->slot)) return false;
        const auto executable = playerExecutable(start->slot);
        m_lastUrl[executable] = start->address;
        {
            std::string content;
            if (const auto given = logForUrl.find(start->address); given != logForUrl.end())
                content = given->second;
            if (outputMissing)
                content += "Could not open/initialize audio device -> no sound.\nAudio: no sound\n";
            if (diskFull) content.clear();
            std::ofstream(m_workdir / playerLogFile(start->slot),
                          std::ios::binary | std::ios::trunc)
                << content;
            grew(playerLogFile(start->slot), content.size(), true);
        }
        if (!unplayableUrls.count(start->address) && !outputMissing) {
            const auto behaviour = behaviourForUrl.find(start->address);
            Player player{playerLogFile(start->slot), start->address, nowMs(),
                          behaviour == behaviourForUrl.end() ? Behaviour{} : behaviour->second,
                          false};
            player.socket = ++m_lastSocket;
            const auto& options = start->playerOptions;
            const auto volume = std::find(options.begin(), options.end(), "-volume");
            if (volume != options.end() && std::next(volume) != options.end())
                player.volume = std::stod(*std::next(volume));
            m_running[executable] = player;
            advance();
        }
    } else if (const auto* stop = std::get_if<StopPlayer>(&command)) {
        const auto player = m_running.find(playerExecutable(stop->slot));
        if (player != m_running.end()) {
            ended(player->first, player->second);
            m_running.erase(player);
        }
    } else if (const auto* del = std::get_if<DeleteFile>(&command)) {
        if (!isPlainFileName(del->file)) return false;
        std::error_code ignored;
        std::filesystem::remove(m_workdir / del->file, ignored);
        m_logBytes.erase(del->file);
    }
    return true;
}

ProcessCheck FakePlayers::check(const std::string& executableName) {
    advance();
    if (checksFail) return ProcessCheck::Unknown;
    return m_running.count(executableName) ? ProcessCheck::Running : ProcessCheck::NotRunning;
}

std::vector<std::string> FakePlayers::commands() const {
    std::vector<std::string> texts;
    for (const auto& issued : m_issued)
        texts.push_back(issued.command);
    return texts;
}

bool FakePlayers::isRunning(int slot) const {
    advance();
    return m_running.count(playerExecutable(slot)) > 0;
}

bool FakePlayers::isPlaying(int slot) const {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    return player != m_running.end() && player->second.playing;
}

bool FakePlayers::lostItsDevice(int slot) const {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    return player != m_running.end() && player->second.stuckLoggedMs >= 0;
}

bool FakePlayers::hasPlayedFor(int slot, double seconds) const {
    if (!isPlaying(slot)) return false;
    const Player& player = m_running.find(playerExecutable(slot))->second;
    const auto beganMs =
        player.startedMs + std::llround(player.behaviour.startsPlaybackAfter * 1000);
    return nowMs() - beganMs >= std::llround(seconds * 1000);
}

std::optional<std::int64_t> FakePlayers::sentBetween(int slot, std::int64_t fromMs,
                                                     std::int64_t toMs) const {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    if (player == m_running.end() || player->second.startedMs > fromMs) return std::nullopt;
    return sendingMs(player->second, toMs) - sendingMs(player->second, fromMs);
}

std::string FakePlayers::urlOf(int slot) const {
    const auto it = m_lastUrl.find(playerExecutable(slot));
    return it == m_lastUrl.end() ? std::string() : it->second;
}

std::filesystem::path FakePlayers::file(int slot, TapPoint point) const {
    const char* kind = point == TapPoint::Source ? ".source.levels" : ".levels";
    return m_workdir / ("mplayer" + std::to_string(slot) + kind);
}

std::filesystem::path FakePlayers::renew(int slot) {
    return m_workdir / ("mplayer" + std::to_string(slot) + ".control");
}

bool FakePlayers::send(int slot, std::string_view command) {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    if (player == m_running.end() || !command.starts_with("volume ")) return false;
    const double volume = std::stod(std::string(command.substr(7)));
    if (onVolume) onVolume(slot, player->second.volume, volume);
    player->second.volume = volume;
    return true;
}

std::optional<double> FakePlayers::volumeOf(int slot) const {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    if (player == m_running.end()) return std::nullopt;
    return player->second.volume;
}

std::optional<double> FakePlayers::blockLoudness(int, const AudioBlock& block, int) {
    double squares = 0;
    for (const std::int16_t sample : block.samples)
        squares += static_cast<double>(sample) * sample;
    const double mean = squares / static_cast<double>(block.samples.size()) / (32768.0 * 32768.0);
    // Both channels count, as BS.1770 sums them.
    return mean <= 0 ? -HUGE_VAL : -0.691 + 10 * std::log10(2 * mean);
}

std::optional<AudioBlock> FakePlayers::read(int slot, TapPoint point) {
    advance();
    const auto player = m_running.find(playerExecutable(slot));
    const auto left = m_leftBlock.find(slot);
    const auto leftOver = [&]() -> std::optional<AudioBlock> {
        if (left == m_leftBlock.end()) return std::nullopt;
        return left->second;
    };
    if (player == m_running.end() || !player->second.playing) return leftOver();
    const auto sound = soundOfUrl.find(player->second.url);
    if (sound == soundOfUrl.end()) return leftOver();
    m_leftBlock.erase(slot);  // the new player writes the file afresh
    Player& p = player->second;
    AudioBlock block{p.counter, 2, std::vector<std::int16_t>(2 * kSamplesPerChannel)};
    if (!sound->second || outputMissing || p.stuckLoggedMs >= 0)
        return block;  // the counter stands still
    // A square wave at the level: its RMS equals its amplitude. What is heard
    // is that at the player's volume.
    const double gain = point == TapPoint::Heard ? p.volume / 25 : 1;
    const auto amplitude = static_cast<std::int16_t>(
        std::lround(std::min(32767.0, 32767 * gain * std::pow(10.0, *sound->second / 20))));
    p.counter = block.counter = static_cast<std::uint64_t>(nowMs() - p.startedMs) / 10 + 2;
    for (std::size_t i = 0; i < block.samples.size(); ++i)
        block.samples[i] = i % 2 ? amplitude : static_cast<std::int16_t>(-amplitude);
    return block;
}

void FakePlayers::die(int slot) {
    const auto player = m_running.find(playerExecutable(slot));
    if (player == m_running.end()) return;
    ended(player->first, player->second);
    m_running.erase(player);
}

void FakePlayers::stall(int slot, double lastsSeconds, bool logsCacheEmpty, bool trickles) {
    const auto player = m_running.find(playerExecutable(slot));
    if (player == m_running.end()) return;
    Player& p = player->second;
    const auto now = nowMs();
    Behaviour& b = p.behaviour;
    const double aliveSeconds = static_cast<double>(now - p.startedMs) / 1000.0;
    const bool silentNow = b.stallsAfter >= 0 && !b.trickles && aliveSeconds >= b.stallsAfter &&
                           (b.stallLasts < 0 || aliveSeconds < b.stallsAfter + b.stallLasts);
    if (silentNow && !trickles) {
        // A stall within a stall goes on from when the first began: what the
        // stream sent before stays as it was.
        b.stallLasts = lastsSeconds < 0 ? -1 : aliveSeconds - b.stallsAfter + lastsSeconds;
        return;
    }
    p.lostMs = now - p.startedMs - sendingMs(p, now);  // earlier stalls stay lost
    b.stallsAfter = aliveSeconds;
    b.stallLasts = lastsSeconds;
    b.trickles = trickles;
    p.cacheEmptyLogged = !logsCacheEmpty;
}

}  // namespace kestrel::test
