// Silence on air with the real headless station, real MPlayer (null audio
// output) and live loopback streams made with sox and lame, SilenceLevel -40
// and SilenceSeconds 15. Each stream loops 180 s: 10 s of tone, 110 s of
// something quiet, 60 s of tone again; every listener joins where the loop
// has got to, as on a live broadcast.
//  - digital silence, and -50 dBFS hiss: from the silence (when the bench,
//    reading the player's audio itself, first finds every channel below the
//    level) to the SILENCE line, to source 0 heard (its level in slot 2) and
//    named on air (after the overlap), the longest time within that switch
//    in which no player decoded; and from the sound's return in the stream
//    to the source back on air;
//  - a steady -35 dBFS tone for 60 s: false alarms;
//  - the station's CPU over 60 s with two players, tap on and off.
//
// Usage: bench_silence [STATION] [CPU_SECONDS]   (about 9 minutes)
// Binds port 1011; another station on this machine that starts up ends every
// player of the slot names.
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/posix_level_tap.h"
#include "station/audio_levels.h"
#include "station_bench.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;

constexpr double kLevel = -40;
constexpr double kSeconds = 15;
constexpr double kQuietEnds = 120;  // in the loop: the tone comes back

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// An MP3 of `parts` (sox synth arguments, one file each) one after the other.
std::string makeMp3(const fs::path& dir, const std::string& name,
                    const std::vector<std::string>& parts) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto part = dir / (name + std::to_string(i) + ".wav");
        if (!run("sox -q -n -r 44100 -c 2 -b 16 '" + part.string() + "' " + parts[i])) return "";
        joined += " '" + part.string() + "'";
    }
    const auto wav = dir / (name + ".wav");
    const auto mp3 = dir / (name + ".mp3");
    if (!run("sox -q" + joined + " '" + wav.string() + "'") ||
        !run("lame --quiet -t -b 128 --cbr '" + wav.string() + "' '" + mp3.string() + "'"))
        return "";
    return mp3.string();
}

std::string tone(int seconds, double rmsDbfs) {
    // A sine's RMS lies 3.01 dB below its peak.
    char text[64];
    std::snprintf(text, sizeof text, "synth %d sine 440 gain %.2f", seconds, rmsDbfs + 3.01);
    return text;
}

std::string format(std::optional<double> seconds) {
    if (!seconds) return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", *seconds);
    return text;
}

// The station's source on air, -1 when unknown.
int sourceOnAir() {
    const std::string answer = ask("/api/getcurrent.php?id=" + std::string(kKey), 2);
    return answer.rfind("Source: ", 0) == 0 ? std::atoi(answer.c_str() + 8) : -1;
}

struct Run {
    std::optional<double> toLine, toSourceZeroHeard, toSourceZero, longestNoDecoding, toReturn;
    int silenceLines = 0;
};

// One stream as source 9, with `backup` as source 0, for up to `seconds`.
Run measure(const std::string& binary, const std::string& mp3, const std::string& backup,
            double seconds, bool expectSilence) {
    const BenchDir dir("silence");
    fs::create_directories(dir.path / "run");
    ::setenv("RUNTIME_DIRECTORY", (dir.path / "run").c_str(), 1);
    Stream source(dir.path, "Source", {"--live"}, mp3);
    const auto loopStart = Clock::now();
    Stream zero(dir.path, "Backup", {}, backup);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey
        << "\r\nCheckSource=0\r\nSilenceLevel=-40\r\nSilenceSeconds=15\r\n";
    std::ofstream(dir.station / "sourcelist.ini")
        << "9n:Source\r\n9u:" << source.url() << "\r\n0n:Backup\r\n0u:" << zero.url() << "\r\n";
    const Station running(binary, dir);
    kestrel::PosixLevelTap tap(dir.path / "run", dir.station);
    kestrel::AudioLevels levels;
    const auto started = Clock::now();
    std::optional<double> silentAt, lineAt, zeroHeardAt, zeroAt, backAt, noDecodingSince;
    double longestNoDecoding = 0;
    Run result;
    while (secondsSince(started) < seconds) {
        const double now = secondsSince(started);
        bool decoding = false;
        for (const int slot : {1, 2}) {
            levels.slot(slot).take(now, tap.read(slot, kestrel::TapPoint::Heard));
            decoding = decoding || levels.of(slot).has_value();
        }
        // The silence as the bench hears it: the slot of source 9 before the fallback.
        const auto heard = levels.of(1);
        if (!silentAt && !zeroAt && heard && !kestrel::hasSound(*heard, kLevel)) silentAt = now;
        if (silentAt && !zeroAt && heard && kestrel::hasSound(*heard, kLevel)) silentAt.reset();
        if (!lineAt && readFile(dir.station / "error.log").find("SILENCE ") != std::string::npos)
            lineAt = now;
        if (lineAt && !zeroAt) {
            if (!decoding && !noDecodingSince) noDecodingSince = now;
            if (decoding && noDecodingSince) {
                longestNoDecoding = std::max(longestNoDecoding, now - *noDecodingSince);
                noDecodingSince.reset();
            }
        }
        // Source 0 starts in slot 2 and is heard there before the overlap ends.
        if (lineAt && !zeroHeardAt && levels.of(2) && kestrel::hasSound(*levels.of(2), kLevel))
            zeroHeardAt = now;
        const int onAir = lineAt ? sourceOnAir() : 9;
        if (lineAt && !zeroAt && onAir == 0) zeroAt = now;
        if (zeroAt && onAir == 9) {
            backAt = now;
            break;
        }
        if (!expectSilence && lineAt) break;
        std::this_thread::sleep_for(50ms);
    }
    const std::string log = readFile(dir.station / "error.log");
    for (auto at = log.find("SILENCE "); at != std::string::npos; at = log.find("SILENCE ", at + 1))
        ++result.silenceLines;
    if (silentAt && lineAt) result.toLine = *lineAt - *silentAt;
    if (silentAt && zeroHeardAt) result.toSourceZeroHeard = *zeroHeardAt - *silentAt;
    if (silentAt && zeroAt) result.toSourceZero = *zeroAt - *silentAt;
    if (zeroAt) result.longestNoDecoding = longestNoDecoding;
    // The sound comes back at 120 s of the loop, counted from the stream's start.
    const double startedInLoop = std::chrono::duration<double>(started - loopStart).count();
    if (backAt) result.toReturn = *backAt + startedInLoop - kQuietEnds;
    ::unsetenv("RUNTIME_DIRECTORY");
    return result;
}

// The station's CPU in % of one core over `seconds` with its source playing
// and a second player decoding into slot 2's tap; with `tapOn` false the
// players hand over nothing.
double stationCpu(const std::string& binary, const std::string& mp3, bool tapOn, int seconds) {
    const BenchDir dir("silence-cpu");
    fs::create_directories(dir.path / "run");
    ::setenv("RUNTIME_DIRECTORY", (dir.path / "run").c_str(), 1);
    Stream source(dir.path, "Source", {}, mp3);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n";
    std::ofstream(dir.station / "sourcelist.ini") << "9n:Source\r\n9u:" << source.url() << "\r\n";
    if (!tapOn) {
        // A player of the engineer's own that does not pass the tap on.
        std::ofstream(dir.station / "mplayer1")
            << "#!/bin/bash\nexec -a mplayer1 mplayer -noconsolecontrols \"$@\"\n";
        fs::permissions(dir.station / "mplayer1", fs::perms::owner_all);
    }
    const Station running(binary, dir);
    kestrel::PosixLevelTap tap(dir.path / "run", dir.station);
    std::vector<std::string> second = {"/usr/bin/mplayer", "-noconsolecontrols", "-quiet"};
    if (tapOn)
        second.insert(second.end(),
                      {"-af", "export=" + tap.file(2, kestrel::TapPoint::Heard).string()});
    second.push_back(source.url());
    const pid_t other = startProcess(second, dir.path, dir.path / "second.out");
    std::this_thread::sleep_for(5s);
    const auto cpuTicks = [&] {
        std::ifstream stat("/proc/" + std::to_string(running.pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15) ticks += std::atoll(field.c_str());
        return ticks;
    };
    const long long before = cpuTicks();
    const auto from = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = secondsSince(from);
    const long long after = cpuTicks();
    endProcess(other);
    ::unsetenv("RUNTIME_DIRECTORY");
    return static_cast<double>(after - before) / static_cast<double>(::sysconf(_SC_CLK_TCK)) /
           wall * 100;
}

}  // namespace

int main(int argc, char** argv) {
    // Line by line: a forked child must not carry unwritten figures along.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string binary = fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield");
    const int cpuSeconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 60;
    const BenchDir media("silence-media");
    const std::string drop =
        makeMp3(media.path, "drop", {tone(10, -12), "trim 0 110", tone(60, -12)});
    const std::string hiss = makeMp3(
        media.path, "hiss", {tone(10, -12), "synth 110 whitenoise gain -45.23", tone(60, -12)});
    const std::string quiet = makeMp3(media.path, "quiet", {tone(60, -35)});
    const std::string backup = testMp3();
    if (drop.empty() || hiss.empty() || quiet.empty() || backup.empty()) {
        std::fprintf(stderr, "bench_silence: sox and lame make the streams\n");
        return 1;
    }
    for (const auto& [name, mp3] : {std::pair{"digital silence", drop}, {"-50 dBFS hiss", hiss}}) {
        const Run r = measure(binary, mp3, backup, 240, true);
        std::printf("BENCH %s: silence to the SILENCE line\t%s\tgoal <= 16 s\n", name,
                    format(r.toLine).c_str());
        std::printf("BENCH %s: silence to source 0 heard\t%s\tgoal <= 17 s\n", name,
                    format(r.toSourceZeroHeard).c_str());
        std::printf("BENCH %s: silence to source 0 named on air (after the overlap)\t%s\t-\n", name,
                    format(r.toSourceZero).c_str());
        std::printf("BENCH %s: longest time no player decoded during the fallback\t%s\t0 s\n", name,
                    format(r.longestNoDecoding).c_str());
        std::printf(
            "BENCH %s: sound back in the stream to the source back on air\t%s\tgoal <= 65 s\n",
            name, format(r.toReturn).c_str());
    }
    const Run q = measure(binary, quiet, backup, 60, false);
    std::printf("BENCH -35 dBFS tone for 60 s: false alarms\t%d\t0\n", q.silenceLines);
    const double on = stationCpu(binary, backup, true, cpuSeconds);
    const double off = stationCpu(binary, backup, false, cpuSeconds);
    std::printf("BENCH station CPU over %d s, two players, tap on\t%.2f %% of one core\t-\n",
                cpuSeconds, on);
    std::printf("BENCH station CPU over %d s, two players, tap off\t%.2f %% of one core\t-\n",
                cpuSeconds, off);
    std::printf("BENCH the tap's cost (on - off)\t%.2f %% of one core\tgoal < 0.2 %%\n", on - off);
    return 0;
}
