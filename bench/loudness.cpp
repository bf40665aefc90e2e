// The crossfade, matched loudness and the sound device watch with the real
// headless station and real MPlayer (null audio output):
//  - the overlap profile of a switch between two bursting loopback streams of
//    steady tones: from every block each slot's player hands over after its
//    gain (read every millisecond), the seconds during which both are within
//    6 dB of their own level, and the largest level step from one block to
//    the next while the player is above -40 dB of its level (below, the
//    16-bit samples of a faded tone are too coarse to tell), with
//    CrossfadeSeconds=0 (as before) and at 1 and 3 s;
//  - the loudness step at a switch between two live loopback streams of pink
//    noise made with sox and lame 10 dB apart: each source is heard for 30 s,
//    then the short-term loudness (3 s, BS.1770, libebur128) of what is heard
//    (the on-air slot's tap after the gain) just before a switch and 3 s
//    after it, with TargetLoudness off (as before) and at -18 LUFS;
//  - the CPU the loudness measurement costs per player: libebur128 on the
//    512-frame blocks a player hands over, as many as the station reads;
//  - a missing sound card (AudioDevice=hw:31,0): from the player's "Could not
//    open/initialize audio device" to the station's OUTPUT FAILED line, and
//    the SWITCH FAILED lines (sources declared dead) in the 20 s after.
//
// Usage: bench_loudness [STATION] [crossfade|card]   (about 6 minutes; the
// overlap profiles alone about 1 minute, the missing card alone 30 s)
// Binds port 1011; another station on this machine that starts up ends every
// player of the slot names.
#include <ebur128.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ebur128_loudness_meter.h"
#include "platform/posix_level_tap.h"
#include "station_bench.h"
#include "support/text_count.h"

namespace {

using namespace kestrel::bench;
using namespace std::chrono_literals;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// 60 s of `sound` (pinknoise, sine 440, ...) at `gainDb`, as a 128 kbit/s MP3.
std::string mp3Of(const fs::path& dir, const std::string& name, const std::string& sound,
                  double gainDb) {
    const auto wav = dir / (name + ".wav");
    const auto mp3 = dir / (name + ".mp3");
    char gain[32];
    std::snprintf(gain, sizeof gain, "%.1f", gainDb);
    if (!run("sox -q -n -r 44100 -c 2 -b 16 '" + wav.string() + "' synth 60 " + sound + " gain " +
             gain) ||
        !run("lame --quiet -t -b 128 --cbr '" + wav.string() + "' '" + mp3.string() + "'"))
        return "";
    return mp3.string();
}

// Short-term loudness of what each slot's player hands over after its gain,
// from every block the bench sees (read every 10 ms); a new player starts afresh.
class HeardLoudness {
public:
    explicit HeardLoudness(kestrel::PosixLevelTap& tap) : m_tap(tap) {
        m_reader = std::thread([this] {
            while (!m_stop) {
                for (const int slot : {1, 2})
                    take(slot);
                std::this_thread::sleep_for(10ms);
            }
        });
    }
    ~HeardLoudness() {
        m_stop = true;
        m_reader.join();
        for (auto* state : m_states)
            if (state) ebur128_destroy(&state);
    }

    std::optional<double> shortTerm(int slot) {
        std::lock_guard lock(m_mutex);
        ebur128_state* state = m_states[slot - 1];
        double lufs = 0;
        if (!state || ebur128_loudness_shortterm(state, &lufs) != EBUR128_SUCCESS ||
            !std::isfinite(lufs))
            return std::nullopt;
        return lufs;
    }

private:
    void take(int slot) {
        const auto block = m_tap.read(slot, kestrel::TapPoint::Heard);
        if (!block || block->channels < 1) return;
        std::lock_guard lock(m_mutex);
        auto& last = m_counters[slot - 1];
        ebur128_state*& state = m_states[slot - 1];
        if (block->counter == last) return;
        if (block->counter < last && state) ebur128_destroy(&state);
        last = block->counter;
        const auto channels = static_cast<unsigned>(block->channels);
        if (!state) state = ebur128_init(channels, 44100, EBUR128_MODE_S);
        const std::size_t frames = block->samples.size() / channels;
        std::vector<short> interleaved(frames * channels);
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t f = 0; f < frames; ++f)
                interleaved[f * channels + c] = block->samples[c * frames + f];
        ebur128_add_frames_short(state, interleaved.data(), frames);
    }

    kestrel::PosixLevelTap& m_tap;
    std::mutex m_mutex;
    ebur128_state* m_states[2] = {nullptr, nullptr};
    std::uint64_t m_counters[2] = {0, 0};
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

// Every block each slot's player hands over after its gain: when it was
// seen, and its RMS in dBFS (-200 for digital silence).
class HeardBlocks {
public:
    struct Block {
        double at;
        std::uint64_t counter;
        double db;
    };
    explicit HeardBlocks(kestrel::PosixLevelTap& tap) : m_tap(tap) {
        m_reader = std::thread([this] {
            while (!m_stop) {
                for (const int slot : {1, 2})
                    take(slot);
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~HeardBlocks() {
        m_stop = true;
        m_reader.join();
    }
    std::vector<Block> of(int slot) {
        std::lock_guard lock(m_mutex);
        return m_blocks[slot - 1];
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        for (auto& blocks : m_blocks)
            blocks.clear();
    }
    double now() const { return secondsSince(m_start); }

private:
    void take(int slot) {
        const auto block = m_tap.read(slot, kestrel::TapPoint::Heard);
        if (!block || block->samples.empty()) return;
        std::lock_guard lock(m_mutex);
        auto& blocks = m_blocks[slot - 1];
        if (!blocks.empty() && blocks.back().counter == block->counter) return;
        double squares = 0;
        for (const std::int16_t sample : block->samples)
            squares += static_cast<double>(sample) * sample;
        const double mean = squares / static_cast<double>(block->samples.size()) / 32768 / 32768;
        blocks.push_back({now(), block->counter, mean > 0 ? 10 * std::log10(mean) : -200});
    }

    kestrel::PosixLevelTap& m_tap;
    const Clock::time_point m_start = Clock::now();
    std::mutex m_mutex;
    std::vector<Block> m_blocks[2];
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

double median(std::vector<double> values) {
    if (values.empty()) return -200;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// A slot's level at `t`: its latest block, while it is at most 60 ms old
// (a stopped player leaves its last block in its file).
std::optional<double> levelAt(const std::vector<HeardBlocks::Block>& blocks, double t) {
    std::optional<double> level;
    for (const auto& block : blocks) {
        if (block.at > t) break;
        level = t - block.at <= 0.06 ? std::optional(block.db) : std::nullopt;
    }
    return level;
}

int slotOnAir(const fs::path& station) {
    int slot = 0;
    for (const pid_t pid : kestrel::test::playersIn(station))
        slot = std::max(slot, slotOf(pid));
    return slot;
}

std::string lufs(std::optional<double> value) {
    if (!value) return "none";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f LUFS", *value);
    return text;
}

// The station of `dir` with the API on, `setting` (one line of
// kestrelfield.ini), and streams `nine` and `eight` as sources 9 and 8, each
// named as its stream; its players' levels go to the directory's run/.
void setUpTwoSources(const BenchDir& dir, const std::string& setting, const Stream& nine,
                     const Stream& eight) {
    fs::create_directories(dir.path / "run");
    ::setenv("RUNTIME_DIRECTORY", (dir.path / "run").c_str(), 1);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=" << kKey << "\r\nCheckSource=0\r\n"
        << setting << "\r\n";
    std::ofstream(dir.station / "sourcelist.ini")
        << "9n:" << nine.name << "\r\n9u:" << nine.url() << "\r\n8n:" << eight.name
        << "\r\n8u:" << eight.url() << "\r\n";
}

// Loud (source 9) and quiet (source 8) streams, each heard for 30 s, then
// the switch from loud to quiet: what is heard 3 s before and 3 s after.
void loudnessStep(const std::string& binary, int target, const std::string& loud,
                  const std::string& quiet) {
    const BenchDir dir("loudness");
    Stream nine(dir.path, "Loud", {"--live"}, loud);
    Stream eight(dir.path, "Quiet", {"--live"}, quiet);
    setUpTwoSources(dir, "TargetLoudness=" + std::to_string(target), nine, eight);
    const Station running(binary, dir);
    kestrel::PosixLevelTap tap(dir.path / "run", dir.station);
    HeardLoudness heard(tap);
    const auto switchTo = [&](int source) {
        ask("/api/setcurrent.php?id=" + std::string(kKey) + std::to_string(source), 60);
    };
    std::this_thread::sleep_for(30s);
    switchTo(8);
    std::this_thread::sleep_for(30s);
    switchTo(9);
    std::this_thread::sleep_for(30s);
    const auto before = heard.shortTerm(slotOnAir(running.directory));
    switchTo(8);
    std::this_thread::sleep_for(3s);
    const auto after = heard.shortTerm(slotOnAir(running.directory));
    char step[32] = "-";
    if (before && after) std::snprintf(step, sizeof step, "%+.1f LU", *after - *before);
    std::printf("TargetLoudness=%-3d  before the switch %s, 3 s after %s, step %s\n", target,
                lufs(before).c_str(), lufs(after).c_str(), step);
    ::unsetenv("RUNTIME_DIRECTORY");
}

// Two tones (sources 9 and 8), switched back and forth three times: for
// each switch, the seconds during which both slots are within 6 dB of their
// own level (the old one's before the switch, the new one's after it), and
// the largest step from one block to the next of either.
void overlapProfile(const std::string& binary, double crossfadeSeconds, const std::string& low,
                    const std::string& high) {
    const BenchDir dir("crossfade");
    Stream nine(dir.path, "Low", {"--live"}, low);
    Stream eight(dir.path, "High", {"--live"}, high);
    char setting[48];
    std::snprintf(setting, sizeof setting, "CrossfadeSeconds=%g", crossfadeSeconds);
    setUpTwoSources(dir, setting, nine, eight);
    const Station running(binary, dir);
    kestrel::PosixLevelTap tap(dir.path / "run", dir.station);
    HeardBlocks heard(tap);
    std::this_thread::sleep_for(8s);
    std::printf("CrossfadeSeconds=%.0f:", crossfadeSeconds);
    for (const int source : {8, 9, 8}) {
        const int oldSlot = slotOnAir(running.directory);
        const int newSlot = oldSlot == 1 ? 2 : 1;
        std::this_thread::sleep_for(2s);
        const double askedAt = heard.now();
        ask("/api/setcurrent.php?id=" + std::string(kKey) + std::to_string(source), 60);
        std::this_thread::sleep_for(2s);
        const double endAt = heard.now();
        const auto olds = heard.of(oldSlot);
        const auto news = heard.of(newSlot);
        std::vector<double> before, after;
        for (const auto& block : olds)
            if (block.at < askedAt) before.push_back(block.db);
        for (const auto& block : news)
            if (block.at > endAt - 1) after.push_back(block.db);
        const double oldLevel = median(before);
        const double newLevel = median(after);
        double both = 0;
        for (double t = askedAt; t < endAt; t += 0.001) {
            const auto o = levelAt(olds, t);
            const auto n = levelAt(news, t);
            if (o && n && *o > oldLevel - 6 && *n > newLevel - 6) both += 0.001;
        }
        double largestStep = 0;
        for (const auto* blocks : {&olds, &news}) {
            const double level = blocks == &olds ? oldLevel : newLevel;
            for (std::size_t i = 1; i < blocks->size(); ++i) {
                const auto& [at, counter, db] = (*blocks)[i];
                const auto& last = (*blocks)[i - 1];
                if (at < askedAt || counter != last.counter + 1 || db < level - 40 ||
                    last.db < level - 40)
                    continue;
                largestStep = std::max(largestStep, std::abs(db - last.db));
            }
        }
        std::printf("  both within 6 dB %.2f s, largest step %.1f dB;", both, largestStep);
        heard.clear();
    }
    std::printf("\n");
    ::unsetenv("RUNTIME_DIRECTORY");
}

// The station measures one 512-frame block per slot at each of its ten reads a second.
void loudnessCpu() {
    kestrel::Ebur128LoudnessMeter meter;
    kestrel::AudioBlock block{1, 2, std::vector<std::int16_t>(2 * 512)};
    for (std::size_t i = 0; i < block.samples.size(); ++i)
        block.samples[i] = static_cast<std::int16_t>((i * 7919) % 20000 - 10000);
    constexpr int kBlocks = 20000;
    const auto started = Clock::now();
    for (int i = 0; i < kBlocks; ++i) {
        block.counter = static_cast<std::uint64_t>(i) + 1;
        meter.blockLoudness(1, block, 44100);
    }
    const double perBlock = secondsSince(started) / kBlocks;
    std::printf(
        "loudness measurement: %.1f us per block, %.4f %% of a core per player "
        "(10 blocks a second)\n",
        perBlock * 1e6, perBlock * 10 * 100);
}

// No card 31: from the player's complaint to the OUTPUT FAILED line.
void missingCard(const std::string& binary, const std::string& mp3) {
    const BenchDir dir("output");
    Stream nine(dir.path, "Source", {"--live"}, mp3);
    std::ofstream(dir.station / "kestrelfield.ini")
        << "[Kestrelfield]\r\nAPIallowed=0\r\nCheckSource=0\r\nAudioDevice=hw:31,0\r\n";
    std::ofstream(dir.station / "sourcelist.ini") << "9n:Source\r\n9u:" << nine.url() << "\r\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("MPLAYER_HOME", dir.path.c_str(), 1);
    const pid_t station = startProcess({binary}, dir.station, dir.path / "station.out");
    std::optional<Clock::time_point> complained;
    std::optional<double> toLine;
    const auto started = Clock::now();
    while (secondsSince(started) < 20 && !toLine) {
        if (!complained &&
            contains(readFile(slotLog(dir.station, 1)), "Could not open/initialize audio device"))
            complained = Clock::now();
        if (complained && contains(readFile(dir.station / "error.log"), "OUTPUT FAILED"))
            toLine = secondsSince(*complained);
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(20s);
    const std::string errors = readFile(dir.station / "error.log");
    endProcess(station);
    kestrel::test::killPlayersIn(dir.station);
    char took[32] = "never";
    if (toLine) std::snprintf(took, sizeof took, "%.0f ms", *toLine * 1000);
    std::printf(
        "missing card: complaint to OUTPUT FAILED %s; in the 20 s after: %d OUTPUT FAILED, "
        "%d SWITCH FAILED lines\n",
        took, kestrel::test::countOf(errors, "OUTPUT FAILED"),
        kestrel::test::countOf(errors, "SWITCH FAILED"));
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string binary = fs::absolute(argc > 1 ? argv[1] : "build/kestrelfield");
    const BenchDir media("loudness-media");
    const std::string loud = mp3Of(media.path, "loud", "pinknoise", -6);
    const std::string quiet = mp3Of(media.path, "quiet", "pinknoise", -16);
    const std::string low = mp3Of(media.path, "low", "sine 440", -10);
    const std::string high = mp3Of(media.path, "high", "sine 660", -10);
    if (loud.empty() || quiet.empty() || low.empty() || high.empty()) {
        std::fprintf(stderr, "cannot make the streams (sox, lame)\n");
        return 1;
    }
    const std::string only = argc > 2 ? argv[2] : "";
    if (only == "card") {
        missingCard(binary, loud);
        return 0;
    }
    for (const double seconds : {0.0, 1.0, 3.0})
        overlapProfile(binary, seconds, low, high);
    if (only == "crossfade") return 0;
    loudnessCpu();
    missingCard(binary, loud);
    for (const int target : {0, -18})
        loudnessStep(binary, target, loud, quiet);
    return 0;
}
