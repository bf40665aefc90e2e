#include "station/history.h"

#include <gtest/gtest.h>

#include "support/sim_host.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(History, LinesReadBackAndGarbledOnesAreSkipped) {
    const HistoryEntry entry{1765099802, "web_order", {{"client", "a \"b\"\\c\n"}, {"key", "3"}}};
    const auto back = History::parse(History::line(entry));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->event, "web_order");
    EXPECT_EQ(back->fields, entry.fields);

    test::TempDir dir;
    dir.write("history.log",
              "100 event=switch source=1\r\ngarbage\r\n110 event=\"open\r\n"
              "x event=switch\r\n120 source=2\r\n\xff\xfe\r\n130 event=silence\n");
    History history;
    EXPECT_EQ(history.open(dir.path() / "history.log", 200), std::error_code());
    ASSERT_EQ(history.entries().size(), 3u);
    EXPECT_EQ(history.entries()[1].event, "silence");
    EXPECT_EQ(history.entries()[2].event, "start");
    EXPECT_NE(dir.read("history.log").find("200 event=start\r\n"), std::string::npos);
}

TEST(History, KeepsADayAndBoundsItsFile) {
    test::TempDir dir;
    History history;
    history.open(dir.path() / "history.log", 0);
    const std::string padding(200, 'p');
    double at = 0;
    for (; at < 30 * 3600; at += 10) {
        history.add(at, "switch", {{"source", "1"}, {"pad", padding}});
    }
    EXPECT_GE(history.entries().front().at, at - 10 - History::kKeptSeconds);
    ASSERT_TRUE(history.carried().has_value());
    EXPECT_LT(history.carried()->at, history.entries().front().at);
    EXPECT_TRUE(dir.exists("history.log.1"));
    EXPECT_LE(std::filesystem::file_size(dir.path() / "history.log"),
              History::kFileBytes + padding.size() * 2);

    History reopened;
    reopened.open(dir.path() / "history.log", at);
    EXPECT_GT(reopened.entries().size(), 1000u) << "the last parts are read back";
}

TEST(History, EachMinuteGetsTheMeanOfItsLooksWithData) {
    History history;
    for (double at = 60; at < 120; at += 0.1)
        history.sampleLevel(at, 3, at < 90 ? -20.0 : -30.0);
    for (double at = 120; at < 180; at += 0.1)
        history.sampleLevel(at, 3, std::nullopt);
    history.sampleLevel(180, 3, -10.0);
    ASSERT_EQ(history.entries().size(), 1u) << "a minute without data has no level";
    EXPECT_EQ(history.entries()[0].at, 60);
    EXPECT_EQ(history.entries()[0].field("rms_dbfs"), "-25.0");
    EXPECT_EQ(history.entries()[0].field("source"), "3");
}

TEST(History, TheStationKeepsItsEventsAndSaysWhenItCannotWriteThem) {
    test::SimHost host;
    host.write("sourcelist.ini", "9n:Nine\r\n9u:http://nine.example/live\r\n");
    host.start();
    host.runFor(3);
    EXPECT_NE(host.read("history.log").find(" event=switch cause=schedule source=9"),
              std::string::npos);

    std::filesystem::remove(host.dir.path() / "history.log");
    std::filesystem::create_directory(host.dir.path() / "history.log");
    host.display().comboSourceList.text = "9";
    host.controller->cmdForceSwitch_Click();
    host.runFor(3);
    EXPECT_EQ(host.station().history.entries().back().field("cause"), "operator");
    EXPECT_FALSE(host.station().counters.fileWrites["history.log"].error.empty());
    EXPECT_NE(host.journal.str().find("event=write_failed file=history.log"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
