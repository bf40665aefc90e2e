#include "station/station_events.h"

#include <gtest/gtest.h>

#include <functional>

#include "management/change_poll.h"
#include "management/config_download.h"
#include "playback/orders.h"
#include "station/utf8_text.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kThree = "http://three.example/live";

/// A started station playing source 3 in slot 1 since its first second.
struct Playing {
    Playing() {
        host.write("sourcelist.ini", std::string("2n:Two\r\n2u:http://two.example/live\r\n") +
                                         "3n:Three\r\n3u:" + kThree + "\r\n");
        host.write("sourceevents.ini", "2 070000 3\r\n");
        host.players.logForUrl[kThree] = "ICY Info: StreamTitle='Artist - Song';StreamUrl='';\n";
        host.start();
        host.runFor(4);
        host.journal.str("");
    }
    SimHost host;
};

// Counts are checked where the events happen for real (failure chain, API, status).
TEST(StationEvents, EachEventIsJournaled) {
    const auto press = [](const char* selector) {
        return [selector](SimHost& h) {
            h.display().comboSourceList.text = selector;
            h.finish(cmdForceSwitch_Click(h.station()));
        };
    };
    const auto download = [](FetchResult answer) {
        return [answer](SimHost& h) {
            h.state().ManagementUpdate = 1;
            h.managementFetcher.respond = [answer](const std::string&) { return answer; };
            h.finish(tmrManagementDownload(h.station()));
        };
    };
    const std::pair<std::function<void(SimHost&)>, std::vector<std::string>> cases[] = {
        {press("2"),
         {" level=info event=switch cause=operator source=2 slot=2 url=http://two.example/live "
          "result=ok\n"}},
        {press("7"),
         {" event=switch cause=operator source=7 slot=2 url=http://three.example/live "
          "result=no_address\n"}},
        {[](SimHost& h) {
             h.changePollFetcher.respond = [](const std::string&) { return FakeFetcher::ok("2"); };
             h.finish(tmrCheckForChanges(h.station()));
         },
         {" event=switch cause=management source=2 slot=2 "}},
        {[](SimHost& h) {
             h.players.die(1);
             h.runFor(16);
         },
         {" level=warning event=player_outage source=3\n",
          " event=switch cause=watchdog source=3 slot=2 "}},
        {download(FakeFetcher::failed()),
         {" level=warning event=schedule_refused reason=no_usable_answer\n"}},
        {download(FakeFetcher::ok("2 090000 2\r\n")), {" level=info event=schedule_downloaded\n"}},
        {[](SimHost& h) {
             h.runFor(10);
             EXPECT_GT(h.station().counters.metadataUpdated, 0);
         },
         {" event=title source=3 title=\"Artist - Song\"\n"}},
    };
    for (const auto& [act, lines] : cases) {
        Playing p;
        act(p.host);
        const std::string journal = p.host.journal.str();
        EXPECT_TRUE(journal.starts_with("time=2026-12-07T08:00:")) << journal;
        for (const auto& line : lines)
            EXPECT_NE(journal.find(line), std::string::npos) << line << "\n" << journal;
    }
}

TEST(StationEvents, StartUpJournalsConfigurationProblems) {
    SimHost host;
    host.write("kestrelfield.ini", "[Kestrelfield]\r\nAPIallowed=1\r\nAIRenable=yes\r\n");
    host.start();
    const std::string journal = host.journal.str();
    // Each finding of `kestrelfield --check`, worded as it words it.
    for (
        const char* line : {
            " event=configuration_problem problem=\"kestrelfield.ini:2: APIallowed=1 turns the API "
            "on, but APIKey is absent ",
            " event=configuration_problem problem=\"kestrelfield.ini:3: AIRenable=yes reads as off",
            " event=configuration_problem problem=\"sourcelist.ini: missing: ",
        }) {
        EXPECT_NE(journal.find(line), std::string::npos) << line << "\n" << journal;
    }
}

TEST(StationEvents, ValuesAreUtf8AndQuotedOnlyWhenNeeded) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain-value_1.2", "plain-value_1.2"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"a=b", "\"a=b\""},
        {"say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\""},
        {"line\r\nbreak\t\x01", "\"line\\r\\nbreak\\t\\u0001\""},
        {"Caf\xc3\xa9", "Caf\xc3\xa9"},                // valid UTF-8 stays
        {"Caf\xe9", "Caf\xc3\xa9"},                    // Latin-1
        {"\xe2\x82", "\xc3\xa2\xc2\x82"},              // cut sequence: Latin-1
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // surrogate: Latin-1
        {"\xf0\x9f\x8e\xb5", "\xf0\x9f\x8e\xb5"},      // four bytes
    };
    for (const auto& [value, written] : cases)
        EXPECT_EQ(logfmtValue(utf8FromStationText(value)), written) << value;
}

}  // namespace
}  // namespace kestrel
