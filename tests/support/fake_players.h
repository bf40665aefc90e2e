#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/command_runner.h"
#include "platform/event_loop.h"
#include "platform/level_tap.h"
#include "platform/loudness_meter.h"
#include "platform/player_control.h"
#include "platform/process_table.h"
#include "platform/socket_intake.h"
#include "support/fake_sockets.h"

namespace kestrel::test {

class FakeClock;

/// How a command reads in the station's Windows command table, e.g.
/// "cmd /c mplayer1.exe URL -quiet >mplayer1.log" or "taskkill /f /im mplayer2.exe".
std::string commandText(const StationCommand& command);

/// A simulated process world for the station's commands: starting a player
/// makes its executable name "run" (and writes its log), kill-by-name ends it,
/// del removes the file. Serves as both the command runner and the process
/// table, and records every command issued. A player's log gets "Starting
/// playback..." and the player may end on its own as its URL's behaviour
/// says; the virtual time is looked at whenever the station runs a command
/// or checks a process (and whenever the test asks isRunning). As the level
/// tap, a playing player hands over a steady tone at its URL's level; a
/// player that ends leaves its file with one last block the station has not
/// read, until the station clears the slot. Every end of a player is told
/// through `endsVia`, as the real runner tells it.
/// As the player control it keeps each player's volume (from its "-volume"
/// option and the commands sent), which the Heard tap plays at; as the
/// loudness meter it takes a block's mean square as its loudness.
class FakePlayers final : public CommandRunner,
                          public ProcessTable,
                          public LevelTap,
                          public PlayerControl,
                          public LoudnessMeter {
public:
    struct Issued {
        std::string command;  ///< as commandText() reads it
        StationCommand what;
        WindowStyle style;
        std::int64_t atMs = 0;  ///< virtual time of issue, when `clock` is set
    };

    explicit FakePlayers(std::filesystem::path workdir) : m_workdir(std::move(workdir)) {}

    bool run(const StationCommand& command, WindowStyle style) override;
    ProcessCheck check(const std::string& executableName) override;
    /// A player takes in kIntakeBytesPerSecond while its stream is not stalled,
    /// counted as the station counts a real one: by its stream socket, which
    /// its forked cache holds too, in a socket table that lists the socket
    /// once it has connected.
    std::optional<std::uint64_t> bytesRead(const std::string& executableName) override;
    static constexpr std::uint64_t kIntakeBytesPerSecond = 16'000;
    /// After this long without intake a player's cache is empty and it logs so.
    static constexpr double kCacheLastsSeconds = 3;
    /// Samples per channel of a decoded block: a square wave's level needs
    /// few, and simulated weeks read millions of blocks.
    static constexpr int kSamplesPerChannel = 16;

    void onPlayerEnded(std::function<void(int slot)> ended) override { m_ended = std::move(ended); }

    std::filesystem::path file(int slot, TapPoint point) const override;
    /// Two channels at the level `soundOfUrl` gives the player's URL now.
    std::optional<AudioBlock> read(int slot, TapPoint point) override;
    void clear(int slot) override { m_leftBlock.erase(slot); }

    std::filesystem::path renew(int slot) override;
    bool send(int slot, std::string_view command) override;
    std::optional<double> blockLoudness(int slot, const AudioBlock& block, int sampleRate) override;
    /// The volume slot `slot`'s player plays at (25 is unity); nullopt: none runs.
    std::optional<double> volumeOf(int slot) const;

    /// Every command issued so far, in order.
    const std::vector<Issued>& issued() const { return m_issued; }
    std::vector<std::string> commands() const;
    void clearIssued() { m_issued.clear(); }

    bool isRunning(int slot) const;
    /// The slot's player runs and has begun playback.
    bool isPlaying(int slot) const;
    /// The slot's player runs and has lost its sound device: it plays nothing.
    bool lostItsDevice(int slot) const;
    /// The same, with playback begun at least `seconds` ago.
    bool hasPlayedFor(int slot, double seconds) const;
    /// Milliseconds in which the stream of the slot's player sent, between
    /// `fromMs` and `toMs` of virtual time; nullopt when that player was not
    /// running all along.
    std::optional<std::int64_t> sentBetween(int slot, std::int64_t fromMs, std::int64_t toMs) const;
    /// The URL slot `slot` was last started with.
    std::string urlOf(int slot) const;
    /// The player of `slot` ends on its own (a crash, a dropped stream).
    void die(int slot);
    /// The stream of `slot`'s player stops sending from now on, for
    /// `lastsSeconds` (negative: for good); its player says so in its log
    /// unless `logsCacheEmpty` is false. With `trickles`, a quarter of the
    /// bit rate still comes in: an underrun, not a stall.
    void stall(int slot, double lastsSeconds = -1, bool logsCacheEmpty = true,
               bool trickles = false);

    /// Players started with these URLs end at once (an address that cannot be played).
    std::set<std::string> unplayableUrls;
    /// How a player started with a URL behaves over virtual time; a URL not
    /// listed prints "Starting playback..." at once and plays until stopped.
    struct Behaviour {
        double startsPlaybackAfter = 0;  ///< seconds until "Starting playback..."; negative: never
        double endsAfter = -1;           ///< seconds until it ends on its own; negative: never
        double stallsAfter = -1;   ///< seconds until its stream stops sending; negative: never
        double stallLasts = -1;    ///< seconds until the stream sends again; negative: never
        bool trickles = false;     ///< while stalled, a quarter of the bit rate still comes in
        double connectsAfter = 0;  ///< seconds until its stream's socket connects
    };
    std::map<std::string, Behaviour> behaviourForUrl;
    /// Log written when a player starts with a URL; absent: an empty log.
    std::map<std::string, std::string> logForUrl;
    /// What players of a URL decode from now on: a level in dBFS (-120 is
    /// digital silence), or nullopt for nothing (a counter that stands still).
    /// A URL not listed hands over no audio at all.
    std::map<std::string, std::optional<double>> soundOfUrl;
    /// While true there is no sound device: a player that starts says so in
    /// its log and ends at once, as MPlayer does; one that was playing logs
    /// that its device is gone, some 33 lines a second, and decodes nothing
    /// more, also once the device is back.
    bool outputMissing = false;
    /// While true, process checks cannot be made and answer Unknown.
    bool checksFail = false;
    /// While true, the disk is full: players' logs stay as they are.
    bool diskFull = false;
    /// Runs when a player of `slot` is sent a new volume (a test looks at each step).
    std::function<void(int slot, double from, double to)> onVolume;
    /// Runs before each command is carried out (a test looks at the players then).
    std::function<void(const StationCommand&)> beforeRun;
    /// When set, each issued command records the virtual time it was issued at.
    const FakeClock* clock = nullptr;
    /// When set, the end of every player is told through this loop.
    EventLoop* endsVia = nullptr;

    /// The most bytes any player's log has held, as the players wrote them.
    std::uintmax_t largestLog() const { return m_largestLog; }

private:
    struct Player {
        std::string logFile;
        std::string url;
        std::int64_t startedMs = 0;
        Behaviour behaviour;
        bool playing = false;
        bool cacheEmptyLogged = false;
        std::uint64_t counter = 1;        ///< of its level tap
        std::int64_t lostMs = 0;          ///< of earlier stalls, in which nothing was sent
        double volume = 25;               ///< of its software volume; 25 is unity
        std::int64_t stuckLoggedMs = -1;  ///< up to when its lost device was logged
        std::uint64_t socket = 0;         ///< the inode of its stream's socket
    };
    /// Milliseconds of the player's life in which its stream sent.
    std::int64_t sendingMs(const Player& player, std::int64_t now) const;
    std::int64_t nowMs() const;
    /// Brings every player up to the virtual time: prints its line, or ends it.
    void advance() const;
    /// The player of `executable` has ended: its last block stays in its file.
    void ended(const std::string& executable, const Player& player) const;
    /// `log` holds `bytes` more than it did (after a truncation: `bytes` in all).
    void grew(const std::string& log, std::uintmax_t bytes, bool truncated = false) const;

    std::filesystem::path m_workdir;
    std::vector<Issued> m_issued;
    mutable std::map<std::string, Player> m_running;  // by executable
    std::map<std::string, std::string> m_lastUrl;
    mutable std::map<int, AudioBlock> m_leftBlock;  // by slot
    std::function<void(int)> m_ended;
    FakeSocketTable m_sockets;
    std::map<std::string, KnownSockets> m_knownSockets;  // by executable
    std::vector<std::uint64_t> m_held;                   // kept for its room
    std::uint64_t m_lastSocket = 1000;
    mutable std::map<std::string, std::uintmax_t> m_logBytes;  // by log file
    mutable std::uintmax_t m_largestLog = 0;
};

}  // namespace kestrel::test
