#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/timed_fetcher.h"
#include "status/metrics_text.h"
#include "status/status_json.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;
using test::FakeFetcher;

/// A station on air with source 3 in slot 1, the watchdog's check made.
struct OnAir {
    OnAir() {
        host.write("sourcelist.ini", "3n:Caf\xe9 Three\r\n3u:http://three.example/live\r\n");
        host.write("sourceevents.ini", "2 070000 3\r\n");
        host.players.soundOfUrl["http://three.example/live"] = -20.0;
        host.start();
        host.runFor(16);
    }
    Json status() { return Json::parse(statusJson(host.station())); }

    test::SimHost host;
};

TEST(StatusJson, CarriesEveryDocumentedMember) {
    OnAir s;
    s.host.display().lblRXmetadata.caption = std::string(5000, 't') + "\x01\"";
    const Json status = s.status();
    const std::pair<const char*, Json> members[] = {
        {"/onAir/source", 3},
        {"/onAir/name", "Caf\u00e9 Three"},  // Latin-1 bytes read as the window reads them
        {"/onAir/url", "http://three.example/live"},
        {"/pending/source", -1},
        {"/mode", "automatic"},
        {"/schedule/last", "2 070000 3"},
        {"/schedule/next", "X XXXXXX X"},
        {"/players/slot1", true},
        {"/players/slot2", false},
        {"/stream/title", std::string(1024, 't')},  // cut as the window cuts it
        {"/failure/declared", false},
        {"/audio/slot1/rmsDbfs", {-20.0, -20.0}},
        {"/audio/slot1/peakDbfs", {-20.0, -20.0}},
        {"/audio/slot2", nullptr},
        {"/audio/silence", {{"declared", false}, {"source", nullptr}, {"silentSeconds", 0.0}}},
        {"/counts/switches/schedule", 1},
        {"/counts/switches/recovery", 0},
        {"/counts/playerRestarts", 0},
        {"/counts/switchFailures", 0},
        {"/counts/failovers", 0},
        {"/startTime", s.host.clock.epochSeconds() - 16},
        {"/version", KESTREL_VERSION},
        {"/window/lblStatus/background", "#00ff00"},
        {"/window/lblFail/foreground", nullptr},
    };
    for (const auto& [pointer, expected] : members) {
        const Json::json_pointer at(pointer);
        ASSERT_TRUE(status.contains(at)) << pointer;
        EXPECT_EQ(status[at].dump(), expected.dump()) << pointer;  // value and kind
    }
}

// The exposition is checked by Prometheus's own parser and linter.
bool promtoolAccepts(const std::string& metrics, std::string& complaint) {
    test::TempDir dir;
    dir.write("metrics.txt", metrics);
    const std::string command = "promtool check metrics < '" +
                                (dir.path() / "metrics.txt").string() + "' > '" +
                                (dir.path() / "out.txt").string() + "' 2>&1";
    const bool accepted = std::system(command.c_str()) == 0;
    complaint = dir.read("out.txt");
    return accepted;
}

TEST(Metrics, ParseAsExpositionFormatAndCarryTheStation) {
    OnAir s;
    FetchMetrics fetches;
    test::FakeEventLoop answersAtOnce(s.host.clock);  // moves the clock on by each delay
    FakeFetcher slow(&answersAtOnce);
    TimedFetcher timed(slow, s.host.clock, fetches.byFetcher["management"]);
    fetches.byFetcher["source_check"];
    for (const auto& [delay, answer] : {std::pair{0.3, FakeFetcher::ok("x")},
                                        {0.02, FakeFetcher::ok("", 404)},
                                        {61.0, FakeFetcher::failed()}}) {
        slow.delaySeconds = delay;
        slow.respond = [answer](const std::string&) { return answer; };
        timed.start("http://one.example/", BodyForm::Text, [](FetchResult) {});
    }
    s.host.station().fetchMetrics = &fetches;
    s.host.station().counters.metadataUpdated = 1765094400.5;
    s.host.station().counters.apiEvictionsBy(ApiEviction::TableFull) = 7;
    s.host.station().state.StationName = "Dales \"FM\"\\";

    const std::string metrics = metricsText(s.host.station());
    std::string complaint;
    EXPECT_TRUE(promtoolAccepts(metrics, complaint)) << complaint << metrics;
    EXPECT_EQ(complaint, "");
    for (const char* line : {
             "kestrelfield_info{station=\"Dales \\\"FM\\\"\\\\\",version=\"" KESTREL_VERSION
             "\"} 1\n",
             "kestrelfield_on_air_source 3\n",
             "kestrelfield_player_running{slot=\"1\"} 1\n",
             "kestrelfield_switches_total{cause=\"schedule\"} 1\n",
             "kestrelfield_player_restarts_total 0\n",
             "kestrelfield_source_failure 0\n",
             "kestrelfield_api_connections_evicted_total{reason=\"per_address\"} 0\n",
             "kestrelfield_api_connections_evicted_total{reason=\"table_full\"} 7\n",
             "kestrelfield_audio_rms_dbfs{slot=\"1\",channel=\"1\"} -20\n",
             "kestrelfield_audio_peak_dbfs{slot=\"1\",channel=\"0\"} -20",
             "kestrelfield_silence 0\n",
             "kestrelfield_silences_total 0\n",
             "kestrelfield_metadata_updated_timestamp_seconds 1765094400.5\n",
             "kestrelfield_fetch_duration_seconds_bucket{fetcher=\"management\",le=\"0.05\"} 1\n",
             "kestrelfield_fetch_duration_seconds_bucket{fetcher=\"management\",le=\"0.5\"} 2\n",
             "kestrelfield_fetch_duration_seconds_bucket{fetcher=\"management\",le=\"+Inf\"} 3\n",
             "kestrelfield_fetch_duration_seconds_count{fetcher=\"management\"} 3\n",
             "kestrelfield_fetch_failures_total{fetcher=\"management\"} 2\n",
             "kestrelfield_fetch_failures_total{fetcher=\"source_check\"} 0\n",
         }) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    }
    // A slot without data has no level, never a made-up silence.
    EXPECT_EQ(metrics.find("_dbfs{slot=\"2\""), std::string::npos);
}

}  // namespace
}  // namespace kestrel
