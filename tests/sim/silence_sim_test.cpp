#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <optional>
#include <string>
#include <vector>

#include "support/sim_host.h"
#include "support/text_count.h"

namespace kestrel {
namespace {

using test::countOf;

constexpr const char* kStream4 = "http://four.example:8000/live";
constexpr const char* kStream0 = "http://zero.example:8000/backup";

// From `at` seconds on, players of `url` decode at `level` dBFS (nullopt: a
// counter that stands still); or, with `title`, the on-air log gains a title.
struct Step {
    double at;
    const char* url;
    std::optional<double> level;
    const char* title = nullptr;
};

// What a run ends with: "SILENCE " lines in error.log (and silence lines in
// the journal), the source on air, switches for silence and back, silent
// trials journaled, and the SILENCE label.
struct Outcome {
    int silenceLines;
    std::int16_t onAir;
    std::uint64_t fallbacks, returns;
    int trials;
    const char* label;
};

TEST(SilenceSim, LevelSequencesDeclareFallBackAndReturn) {
    // The schedule plays the source of the first step's URL.
    const struct {
        const char* what;
        bool manual;
        std::vector<Step> steps;
        double runSeconds;
        Outcome outcome;
    } cases[] = {
        // clang-format off
        {"a silent source falls back to 0 and returns once it has sound again", false,
         {{0, kStream4, -20}, {10, kStream4, -120}, {50, kStream4, -20}}, 100,
         Outcome{1, 4, 1, 1, 0, ""}},
        {"a title change mid-silence does not reset the count", false,
         {{0, kStream4, -20}, {10, kStream4, -60}, {18, nullptr, {}, "Artist - Other Title"}}, 30,
         Outcome{1, 0, 1, 0, 0, "SILENCE"}},
        {"a slot with no data is never silent", false,
         {{0, kStream4, -20}, {10, kStream4, std::nullopt}}, 100, Outcome{0, 4, 0, 0, 0, ""}},
        {"a silent source 0 raises the alarm only", false, {{0, kStream0, -120}}, 40,
         Outcome{1, 0, 0, 0, 0, "SILENCE"}},
        {"in manual mode a silent source raises the alarm only", true, {{0, kStream4, -120}}, 40,
         Outcome{1, 4, 0, 0, 0, "SILENCE"}},
        {"a trial that finds silence leaves source 0 on air", false, {{0, kStream4, -120}}, 100,
         Outcome{1, 0, 1, 0, 1, "SILENCE"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        test::SimHost host;
        host.write("sourcelist.ini", std::string("4n:Four\r\n4u:") + kStream4 +
                                         "\r\n0n:Backup\r\n0u:" + kStream0 + "\r\n");
        const bool zero = c.steps.front().url == std::string(kStream0);
        host.write("sourceevents.ini", std::string("2 070000 ") + (zero ? "0" : "4") + "\r\n");
        host.players.soundOfUrl[kStream0] = -20.0;
        host.start();
        if (c.manual) {
            host.runFor(3);
            host.controller->cmdAutoManual();
        }
        double now = c.manual ? 3 : 0;
        for (const auto& step : c.steps) {
            if (step.at > now) host.runFor(step.at - now);
            now = std::max(now, step.at);
            if (step.url) host.players.soundOfUrl[step.url] = step.level;
            if (step.title) {
                host.write("mplayer1.log", host.read("mplayer1.log") + "ICY Info: StreamTitle='" +
                                               step.title + "';\n");
            }
        }
        host.runFor(c.runSeconds - now);

        const auto& counters = host.station().counters;
        const Outcome& o = c.outcome;
        EXPECT_EQ(countOf(host.read("error.log"), "SILENCE "), o.silenceLines) << c.what;
        EXPECT_EQ(countOf(host.read("error.log"), "SILENCE 12-07-2026 08:00:"), o.silenceLines)
            << c.what;
        EXPECT_EQ(host.state().CurrentSource, o.onAir) << c.what;
        EXPECT_EQ(counters.switchesBy(SwitchCause::Silence), o.fallbacks) << c.what;
        EXPECT_EQ(counters.switchesBy(SwitchCause::SilenceEnded), o.returns) << c.what;
        EXPECT_EQ(countOf(host.journal.str(), "event=silence_trial"), o.trials) << c.what;
        EXPECT_EQ(countOf(host.journal.str(), "event=silence "), o.silenceLines) << c.what;
        EXPECT_EQ(host.display().lblSilence.caption, o.label) << c.what;
        EXPECT_EQ(host.station().silence.declared, *o.label != '\0') << c.what;
        // Every player hands its audio over: options for MPlayer, the file for a program of one's
        // own.
        const StartPlayer* start = nullptr;
        for (const auto& issued : host.players.issued())
            if (!start) start = std::get_if<StartPlayer>(&issued.what);
        ASSERT_NE(start, nullptr) << c.what;
        const std::string heard = host.players.file(start->slot, TapPoint::Heard).string();
        const std::string sent = host.players.file(start->slot, TapPoint::Source).string();
        const auto& options = start->playerOptions;
        const auto filters = std::find(options.begin(), options.end(), "-af-add");
        ASSERT_NE(filters, options.end()) << c.what;
        EXPECT_EQ(*std::next(filters), "export=" + sent + ":512,volume,export=" + heard + ":512");
        const std::map<std::string, std::string> environment(start->environment.begin(),
                                                             start->environment.end());
        EXPECT_EQ(environment.at("KESTRELFIELD_LEVELS"), heard);
        EXPECT_EQ(environment.at("KESTRELFIELD_SOURCE_LEVELS"), sent);
        // One player on air; a trial's player never stays.
        EXPECT_EQ(host.players.isRunning(1) + host.players.isRunning(2), 1) << c.what;
    }
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// With TargetLoudness each source plays at the gain that brings it to the
// target: a known source from its estimate, a new one from the nearest
// estimate, settled within 10 s; the heard level follows the gain, gains stay
// within ±12 dB, and settled estimates are written to the station's file.
TEST(LoudnessSim, SourcesPlayAtTheTargetAndGainsStayWithinBounds) {
    test::SimHost host;
    host.write("kestrelfield.ini", "[Kestrelfield]\r\nTargetLoudness=-18\r\n");
    host.write("sourcelist.ini", std::string("4n:Four\r\n4u:") + kStream4 +
                                     "\r\n0n:Backup\r\n0u:" + kStream0 + "\r\n");
    host.write("sourceevents.ini", "2 070000 4\r\n2 080100 0\r\n");
    // Square waves: -24 dBFS reads -21.7 LUFS, -12 dBFS -9.7 LUFS.
    host.players.soundOfUrl[kStream4] = -24.0;
    host.players.soundOfUrl[kStream0] = -12.0;
    host.start();
    double mostGain = 0;
    const auto gainOf = [&](std::int16_t source) {
        for (const int slot : {1, 2}) {
            const SlotLoudness& player = host.station().loudness.slot(slot);
            if (player.source == source && host.players.volumeOf(slot)) return player.gainDb;
        }
        return 99.0;
    };
    for (int tick = 0; tick < 600; ++tick) {
        host.runFor(0.1);
        for (const int slot : {1, 2}) {
            mostGain = std::max(mostGain, std::abs(host.station().loudness.slot(slot).gainDb));
            if (const auto volume = host.players.volumeOf(slot)) {
                EXPECT_LE(*volume, 100);
            }
        }
    }
    EXPECT_NEAR(gainOf(4), 3.7, 0.2);
    EXPECT_EQ(host.state().CurrentSource, 4);
    host.runFor(12);  // the event at 08:01 puts source 0 on air; 10 s later it has settled
    EXPECT_EQ(host.state().CurrentSource, 0);
    EXPECT_NEAR(gainOf(0), -8.3, 0.3);
    const auto heard = host.station().audio.of(host.station().onAirSlot());
    ASSERT_TRUE(heard.has_value());
    EXPECT_NEAR(heard->rmsDbfs[0], -12 - 8.3, 0.5);
    EXPECT_LE(mostGain, 12);
    host.runFor(60);
    EXPECT_NE(host.read("loudness.txt").find("4 -21.7 " + std::string(kStream4)), std::string::npos)
        << host.read("loudness.txt");
}

}  // namespace
}  // namespace kestrel
