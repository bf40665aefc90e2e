#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "support/api_station.h"
#include "support/child_process.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;
const std::string kExamples = KESTREL_SOURCE_DIR "/examples/prometheus/";

// Results of an instant query, polled until `done` accepts them or a minute has passed.
Json queryUntil(int port, const std::string& query, const std::function<bool(const Json&)>& done) {
    httplib::Client client("127.0.0.1", port);
    Json result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto answer =
            client.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
        if (answer && answer->status == 200) {
            result = Json::parse(answer->body)["data"]["result"];
            if (done(result)) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return result;
}

TEST(PrometheusScrape, ARealPrometheusScrapesTheStationAndFiresTheExampleAlerts) {
    test::ApiStation station("prom-key");
    station.station().state.CurrentSource = 4;
    station.station().state.SilenceFlag = 1;
    station.station().counters.startTime =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
        700;

    test::TempDir dir;
    const int port = test::freeLoopbackPort();
    dir.write("prometheus.yml",
              "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
              "rule_files: ['" +
                  kExamples +
                  "kestrelfield-alerts.yml']\n"
                  "scrape_configs:\n  - job_name: kestrelfield\n"
                  "    metrics_path: /api/metrics\n    params: {id: [prom-key]}\n"
                  "    static_configs: [{targets: ['127.0.0.1:" +
                  std::to_string(station.server.port()) + "']}]\n");
    test::ChildProcess prometheus(
        {"prometheus", "--config.file=prometheus.yml", "--storage.tsdb.path=data",
         "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"},
        dir.path(), dir.path() / "prometheus.log");

    auto read = std::async(std::launch::async, [port] {
        const Json source = queryUntil(port, "kestrelfield_on_air_source",
                                       [](const Json& r) { return !r.empty(); });
        std::set<std::string> firing;
        queryUntil(port, "ALERTS{alertstate=\"firing\"}", [&firing](const Json& r) {
            for (const auto& alert : r)
                firing.insert(alert["metric"]["alertname"].get<std::string>());
            return firing.size() >= 2;
        });
        return std::pair{source, firing};
    });
    const auto [source, firing] = test::pumpFor(read, std::chrono::minutes(3));
    ASSERT_EQ(source.size(), 1u) << dir.read("prometheus.log");
    EXPECT_EQ(source[0]["value"][1], "4");
    EXPECT_EQ(source[0]["metric"]["job"], "kestrelfield");
    EXPECT_EQ(firing,
              (std::set<std::string>{"KestrelfieldSourceFailure", "KestrelfieldTitleStale"}));

    for (const std::string& check : {"check rules " + kExamples + "kestrelfield-alerts.yml",
                                     "check config " + kExamples + "prometheus.yml"}) {
        EXPECT_EQ(std::system(("promtool " + check + " >/dev/null").c_str()), 0) << check;
    }
    std::ifstream dashboard(kExamples + "grafana-dashboard.json");
    EXPECT_FALSE(Json::parse(dashboard, nullptr, false).is_discarded()) << "the example dashboard";
}

}  // namespace
}  // namespace kestrel
