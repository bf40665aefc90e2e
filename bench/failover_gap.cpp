// Dead air at the failure detector's fallback to source 0 and at its return,
// with the real headless station, real MPlayer (null audio output) and
// loopback ICY streams whose health test is made to fail (SIGHUP to the
// stream tool) while the stream plays on; the gap runs from the old slot's
// end to the new player's "Starting playback..." (negative: an overlap). Also
// the time from the recovery's successful health test to the restored
// source's first sound. Then a dead mount: a real Icecast 2.4 on loopback fed
// by ezstream, whose encoder is stopped for 12 s while the station plays the
// mount: the dead air from the on-air player's "Cache empty" line or end to
// the next "Starting playback...", and the time from the mount's return to
// the mount's source playing again.
//
// Usage: bench_failover_gap [STATION] [BEFORE] [ROUNDS] [MOUNTS]
//   STATION  the station binary (default build/kestrelfield)
//   BEFORE   an older build's binary, measured the same way, side by side
//   ROUNDS   failovers and recoveries (default 10; about 45 s a round)
//   MOUNTS   dead mounts (default a third of ROUNDS, at least 1; about 40 s
//            each); ROUNDS 0 measures only these
// Binds port 1011 (run as root or with the capability); another station on
// this machine that starts up ends every player of the slot names. Without
// icecast2 or ezstream the dead-mount figures say so.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "station_bench.h"
#include "support/child_process.h"
#include "support/process_cleanup.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;

constexpr double kGiveUpSeconds = 60;

// The players' slot on air now: the one slot whose players run; 0 when none or both.
int runningSlot(const fs::path& station) {
    int slots = 0;
    for (const pid_t pid : kestrel::test::playersIn(station))
        slots |= slotOf(pid);
    return slots == 1 || slots == 2 ? slots : 0;
}

// Waits up to `seconds` for one slot alone to run; 0 when that does not come.
int settledSlot(const fs::path& station, double seconds) {
    const auto waited = Clock::now();
    for (int slot = 0; secondsSince(waited) < seconds; std::this_thread::sleep_for(100ms)) {
        if ((slot = runningSlot(station)) != 0) return slot;
    }
    return 0;
}

struct Handover {
    std::optional<Clock::time_point> oldEnded;
    std::optional<Clock::time_point> newPlays;
    double gap() const { return std::chrono::duration<double>(*newPlays - *oldEnded).count(); }
};

// Watches the switch away from `slot` that follows now: when its players have
// all ended and when the other slot's new player prints "Starting playback...".
Handover watchHandover(const fs::path& station, int slot) {
    const auto oldPlayers = kestrel::test::playersIn(station);
    LogTail other(slotLog(station, 3 - slot));
    Handover seen;
    const auto started = Clock::now();
    while (secondsSince(started) < kGiveUpSeconds && !(seen.oldEnded && seen.newPlays)) {
        if (!seen.oldEnded &&
            std::none_of(oldPlayers.begin(), oldPlayers.end(), kestrel::test::stillRunning)) {
            seen.oldEnded = Clock::now();
        }
        if (!seen.newPlays && contains(other.next(), "Starting playback..."))
            seen.newPlays = Clock::now();
        std::this_thread::sleep_for(5ms);
    }
    return seen;
}

// The first successful health test the stream tool noted after `after`.
std::optional<Clock::time_point> firstTestUp(const Stream& stream, Clock::time_point after) {
    std::istringstream lines(readFile(stream.output));
    for (std::string word, ms, result; lines >> word;) {
        if (word != "test" || !(lines >> ms >> result)) continue;
        const Clock::time_point at{std::chrono::milliseconds(std::stoll(ms))};
        if (result == "up" && at >= after) return at;
    }
    return std::nullopt;
}

// A real Icecast on a free loopback port with mount /live fed by ezstream
// from the test MP3; both end with it.
class Icecast {
public:
    Icecast(const fs::path& dir, const std::string& mp3) : m_dir(dir / "icecast") {
        port = kestrel::test::freeLoopbackPort();
        fs::create_directories(m_dir / "log");
        // Run as root, Icecast changes to nobody, who must reach its log
        // through the benchmark's private directory.
        fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(m_dir, fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(m_dir / "log", fs::perms::all);
        std::ofstream(m_dir / "icecast.xml")
            << "<icecast><limits><sources>2</sources><burst-on-connect>1</burst-on-connect>"
               "<source-timeout>10</source-timeout></limits>"
               "<authentication><source-password>bench</source-password>"
               "<admin-user>admin</admin-user><admin-password>bench</admin-password>"
               "</authentication><hostname>127.0.0.1</hostname>"
               "<listen-socket><port>"
            << port
            << "</port><bind-address>127.0.0.1</bind-address></listen-socket>"
               "<paths><basedir>/usr/share/icecast2</basedir><logdir>"
            << (m_dir / "log").string()
            << "</logdir><webroot>/usr/share/icecast2/web</webroot>"
               "<adminroot>/usr/share/icecast2/admin</adminroot></paths>"
               "<logging><errorlog>error.log</errorlog><loglevel>2</loglevel></logging>"
               "<security><chroot>0</chroot>"
            << (::geteuid() == 0 ? "<changeowner><user>nobody</user><group>nogroup</group>"
                                   "</changeowner>"
                                 : "")
            << "</security></icecast>\n";
        const fs::path config = m_dir / "ezstream.xml";
        std::ofstream(config)
            << "<ezstream><servers><server><hostname>127.0.0.1</hostname><port>" << port
            << "</port><password>bench</password></server></servers>"
               "<streams><stream><mountpoint>/live</mountpoint><format>MP3</format>"
               "</stream></streams><intakes><intake><type>file</type><filename>"
            << mp3 << "</filename></intake></intakes></ezstream>\n";
        fs::permissions(config, fs::perms::owner_read | fs::perms::owner_write);
        m_server = startProcess({"/usr/bin/icecast2", "-c", (m_dir / "icecast.xml").string()},
                                m_dir, m_dir / "icecast.out");
        // ezstream gives up at once on a server that does not listen yet.
        for (int tries = 0; tries < 100 && !listens(); ++tries)
            std::this_thread::sleep_for(50ms);
        startEncoder();
    }
    ~Icecast() {
        stopEncoder();
        endProcess(m_server);
    }
    Icecast(const Icecast&) = delete;
    Icecast& operator=(const Icecast&) = delete;

    static bool available() {
        return fs::exists("/usr/bin/icecast2") && fs::exists("/usr/bin/ezstream");
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/live"; }

    void startEncoder() {
        m_encoder = startProcess({"/usr/bin/ezstream", "-c", (m_dir / "ezstream.xml").string()},
                                 m_dir, m_dir / "ezstream.out");
    }
    void stopEncoder() {
        endProcess(m_encoder);
        m_encoder = -1;
    }
    // A connection to the server, -1 when it does not listen.
    int connectToServer() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    bool listens() const {
        const int fd = connectToServer();
        if (fd >= 0) ::close(fd);
        return fd >= 0;
    }
    // Whether the mount answers a listener with 200 now.
    bool mountUp() const {
        const int fd = connectToServer();
        if (fd < 0) return false;
        const std::string request = "GET /live HTTP/1.0\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char head[16] = {};
        timeval limit{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const ssize_t got = ::recv(fd, head, sizeof head - 1, MSG_WAITALL);
        ::close(fd);
        return got > 12 && std::string(head).find(" 200") != std::string::npos;
    }
    // Waits until the mount is up (or not), `seconds` at most; when it became so.
    std::optional<Clock::time_point> awaitMount(bool up, double seconds) const {
        const auto waited = Clock::now();
        while (secondsSince(waited) < seconds) {
            if (mountUp() == up) return Clock::now();
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    // What Icecast and ezstream said, for a mount that never came up.
    std::string output() const {
        return readFile(m_dir / "icecast.out") + readFile(m_dir / "ezstream.out") +
               readFile(m_dir / "log" / "error.log");
    }

    int port = 0;

private:
    fs::path m_dir;
    pid_t m_server = -1;
    pid_t m_encoder = -1;
};

struct Figures {
    std::vector<double> failoverGaps;
    std::vector<double> recoveryGaps;
    std::vector<double> checkToSound;  // recovery's successful test to the restored source's sound
    std::vector<double> mountDeadAir;
    std::vector<double> mountBack;  // the mount's return to its source's first sound again
    int unmeasured = 0;
    bool noIcecast = false;
};

void measureFailovers(const std::string& binary, int rounds, const std::string& mp3,
                      Figures& figures) {
    const BenchDir dir("failover");
    Stream watched(dir.path, "Watched", {}, mp3);
    Stream backup(dir.path, "Backup", {}, mp3);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=1\r\n";
    std::ofstream(dir.station / "sourcelist.ini")
        << "9n:Watched\r\n9u:" << watched.url() << "\r\n0n:Backup\r\n0u:" << backup.url() << "\r\n";
    const Station running(binary, dir);
    for (int round = 0; round < rounds; ++round) {
        int slot = settledSlot(dir.station, 20);
        ::kill(watched.pid, SIGHUP);  // its health test fails from now on, the stream plays on
        const Handover failover = slot ? watchHandover(dir.station, slot) : Handover{};
        if (failover.oldEnded && failover.newPlays) {
            figures.failoverGaps.push_back(failover.gap());
        } else {
            ++figures.unmeasured;
        }
        slot = settledSlot(dir.station, 20);
        const auto healed = Clock::now();
        ::kill(watched.pid, SIGHUP);
        const Handover recovery = slot ? watchHandover(dir.station, slot) : Handover{};
        const auto checked = firstTestUp(watched, healed);
        if (recovery.oldEnded && recovery.newPlays && checked) {
            figures.recoveryGaps.push_back(recovery.gap());
            figures.checkToSound.push_back(
                std::chrono::duration<double>(*recovery.newPlays - *checked).count());
        } else {
            ++figures.unmeasured;
        }
        std::this_thread::sleep_for(2s);
    }
}

// The players of `slot` stream from `url`.
bool slotPlays(const fs::path& station, int slot, const std::string& url) {
    for (const pid_t pid : kestrel::test::playersIn(station)) {
        std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (slotOf(pid) == slot && contains(cmdline, url.c_str())) return true;
    }
    return false;
}

void measureDeadMounts(const std::string& binary, int rounds, const std::string& mp3,
                       Figures& figures) {
    if (!Icecast::available() || mp3.empty()) {
        figures.noIcecast = true;
        return;
    }
    const BenchDir dir("dead-mount");
    Icecast icecast(dir.path, mp3);
    Stream backup(dir.path, "Backup", {}, mp3);
    if (!icecast.awaitMount(true, 20)) {
        std::fprintf(stderr, "the Icecast mount never came up:\n%s\n", icecast.output().c_str());
        figures.noIcecast = true;
        return;
    }
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=1\r\n";
    std::ofstream(dir.station / "sourcelist.ini")
        << "9n:Mount\r\n9u:" << icecast.url() << "\r\n0n:Backup\r\n0u:" << backup.url() << "\r\n";
    const Station running(binary, dir);
    for (int round = 0; round < rounds; ++round) {
        const int slot = settledSlot(dir.station, 30);
        if (slot == 0 || !slotPlays(dir.station, slot, icecast.url())) {
            ++figures.unmeasured;
            continue;
        }
        const auto onAirPlayers = kestrel::test::playersIn(dir.station);
        std::array<LogTail, 2> logs{LogTail(slotLog(dir.station, 1)),
                                    LogTail(slotLog(dir.station, 2))};
        icecast.stopEncoder();
        const auto cut = Clock::now();
        std::optional<Clock::time_point> silent, sound, mountBack, back;
        while (secondsSince(cut) < kGiveUpSeconds && !back) {
            if (!mountBack && secondsSince(cut) >= 12) {
                icecast.startEncoder();
                mountBack = icecast.awaitMount(true, 10);
                if (!mountBack) break;
            }
            const std::string lines[] = {logs[0].next(), logs[1].next()};
            const bool ended =
                std::none_of(onAirPlayers.begin(), onAirPlayers.end(), kestrel::test::stillRunning);
            if (!silent && (contains(lines[slot - 1], "Cache empty") || ended))
                silent = Clock::now();
            for (const int s : {1, 2}) {
                if (!contains(lines[s - 1], "Starting playback...")) continue;
                if (silent && !sound) sound = Clock::now();
                if (mountBack && slotPlays(dir.station, s, icecast.url())) back = Clock::now();
            }
            std::this_thread::sleep_for(5ms);
        }
        if (silent && sound && back) {
            figures.mountDeadAir.push_back(std::chrono::duration<double>(*sound - *silent).count());
            figures.mountBack.push_back(std::chrono::duration<double>(*back - *mountBack).count());
        } else {
            ++figures.unmeasured;
        }
        std::this_thread::sleep_for(16s);  // one restart line per 15 s and source
    }
}

int deadMounts = 0;  // 0: a third of the rounds

Figures measure(const std::string& binary, int rounds, const std::string& mp3) {
    Figures figures;
    if (rounds > 0) measureFailovers(binary, rounds, mp3, figures);
    measureDeadMounts(binary, deadMounts > 0 ? deadMounts : std::max(1, rounds / 3), mp3, figures);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 4) deadMounts = std::atoi(argv[4]);
    // measureAll counts at least one round; "0" asks for the dead mounts alone.
    const bool mountsOnly = argc > 3 && std::string(argv[3]) == "0";
    auto all = measureAll(argc, argv, 10,
                          [&](const std::string& binary, int rounds, const std::string& mp3) {
                              return measure(binary, mountsOnly ? 0 : rounds, mp3);
                          });
    for (auto& [label, figures] : all) {
        std::printf("BENCH gap at a failover to source 0 (stream still playing), %s\t%s\t<= 0 s\n",
                    label.c_str(), summary(figures.failoverGaps).c_str());
    }
    for (auto& [label, figures] : all) {
        std::printf("BENCH gap at the return to the recovered source, %s\t%s\t<= 0 s\n",
                    label.c_str(), summary(figures.recoveryGaps).c_str());
        std::printf("BENCH recovery's successful check to the restored source's sound, %s\t%s\t-\n",
                    label.c_str(), summary(figures.checkToSound).c_str());
    }
    for (auto& [label, figures] : all) {
        if (figures.noIcecast) {
            std::printf("BENCH dead mount (Icecast and ezstream), %s\tnot run\t-\n", label.c_str());
            continue;
        }
        std::printf(
            "BENCH dead air at a dead mount (encoder gone 12 s), %s\t%s\t<= source 0's start\n",
            label.c_str(), summary(figures.mountDeadAir).c_str());
        std::printf("BENCH mount's return to its source playing again, %s\t%s\t<= 5 s\n",
                    label.c_str(), summary(figures.mountBack).c_str());
    }
    for (const auto& [label, figures] : all) {
        if (figures.unmeasured > 0)
            std::printf("BENCH rounds not measured, %s\t%d\t0\n", label.c_str(),
                        figures.unmeasured);
    }
    return 0;
}
