#include "management/config_download.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "support/sim_host.h"

namespace kestrel {
namespace {

using test::FakeFetcher;
using test::SimHost;

constexpr const char* kDownloadUrl = "http://mgmt.example/get.php?key=K1&switcher=studio";
constexpr const char* kOldSchedule = "2 083000 3\r\n2 090000 4\r\n";

/// A station with a management server whose download answers come from a script
/// (a request beyond the script fails); status reports are answered empty.
struct Management {
    Management() {
        auto& s = host.state();
        s.ManagementUpdate = 1;
        s.ManagementURL = "http://mgmt.example/get.php";
        s.ManagementSendURL = "http://mgmt.example/status.php";
        s.ManagementKey = "K1";
        s.ManagementSwitcher = "studio";
        host.write("sourceevents.ini", kOldSchedule);
        host.statusReportFetcher.respond = [](const std::string&) { return FakeFetcher::ok(""); };
        host.managementFetcher.respond = [this](const std::string& url) {
            if (url != kDownloadUrl) return FakeFetcher::failed();
            if (answers.empty()) return FakeFetcher::failed();
            auto next = answers.front();
            answers.pop_front();
            return next;
        };
    }

    int downloads() const {
        int count = 0;
        for (const auto& url : host.managementFetcher.urls())
            count += url == kDownloadUrl;
        return count;
    }
    int statusReports() const { return static_cast<int>(host.statusReportFetcher.requests.size()); }
    const std::string& caption() { return host.display().lblConfigurationStatus.caption; }

    SimHost host;
    std::deque<FetchResult> answers;
};

TEST(ConfigDownload, CountsDownThenDownloadsTwiceAndReports) {
    Management m;
    m.host.state().ManagementUpdate = 3;
    m.answers = {FakeFetcher::ok("first"), FakeFetcher::ok("2 100000 5\r\n")};

    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.caption(), "Countdown till config update: 2");
    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.caption(), "Countdown till config update: 1");
    EXPECT_TRUE(m.host.managementFetcher.requests.empty());

    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.caption(), "Config updated 08:00:00 2026-07-12");
    EXPECT_EQ(m.host.read("sourceevents.ini"), "2 100000 5\r\n");
    ASSERT_EQ(m.host.managementFetcher.requests.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m.host.managementFetcher.requests[i].url, kDownloadUrl);
        EXPECT_EQ(m.host.managementFetcher.requests[i].form, BodyForm::Bytes);
    }
    ASSERT_EQ(m.statusReports(), 10);
    EXPECT_EQ(
        m.host.statusReportFetcher.requests[0].url.rfind("http://mgmt.example/status.php?", 0), 0u);
    EXPECT_EQ(m.host.state().ManagementCounter, 0);

    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.caption(), "Countdown till config update: 2");
}

TEST(ConfigDownload, CaptionDateReadsYearDayMonth) {
    LocalDateTime t;
    t.year = 2026, t.month = 12, t.day = 6, t.hour = 9, t.minute = 15, t.second = 0;
    EXPECT_EQ(downloadCaptionTime(t), "09:15:00 2026-06-12");
}

TEST(ConfigDownload, OnlyAUsableAnswerReplacesTheSchedule) {
    const struct {
        const char* name;
        FetchResult first;
        FetchResult second;
        std::string schedule;
    } cases[] = {
        {"second wins", FakeFetcher::ok("A\n"), FakeFetcher::ok("B\n"), "B\n"},
        {"second fails", FakeFetcher::ok("A\n"), FakeFetcher::failed(), "A\n"},
        {"second is an error page", FakeFetcher::ok("A\n"), FakeFetcher::ok("oops", 500), "A\n"},
        {"second is empty", FakeFetcher::ok("A\n"), FakeFetcher::ok(""), "A\n"},
        {"first fails", FakeFetcher::failed(), FakeFetcher::ok("B\n"), "B\n"},
        {"error pages", FakeFetcher::ok("nf", 404), FakeFetcher::ok("err", 500), kOldSchedule},
        {"empty answers", FakeFetcher::ok(""), FakeFetcher::ok("", 204), kOldSchedule},
        {"unreachable", FakeFetcher::failed(), FakeFetcher::failed(), kOldSchedule},
    };
    for (const auto& c : cases) {
        Management m;
        m.answers = {c.first, c.second};
        m.host.finish(tmrManagementDownload(m.host.station()));
        EXPECT_EQ(m.host.read("sourceevents.ini"), c.schedule) << c.name;
        const bool replaced = c.schedule != kOldSchedule;
        EXPECT_EQ(m.caption(), std::string(replaced ? "Config updated " : "Config update failed ") +
                                   "08:00:00 2026-07-12")
            << c.name;
        EXPECT_EQ(m.downloads(), 2) << c.name;
        EXPECT_EQ(m.statusReports(), 10) << c.name;
        EXPECT_EQ(m.host.state().ManagementCounter, 0) << c.name;
    }
}

TEST(ConfigDownload, BytesAreWrittenUnconvertedOverAnyOldContent) {
    Management m;
    m.host.write("sourceevents.ini", std::string(5000, 'x'));
    const std::string bytes = std::string("2 083000 3\n\0\xff\r", 14);
    m.answers = {FakeFetcher::ok(bytes), FakeFetcher::ok(bytes)};
    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.host.read("sourceevents.ini"), bytes);
    for (const auto& entry : std::filesystem::directory_iterator(m.host.dir.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("sourceevents.ini."))
            << "left behind: " << entry.path();
    }
}

TEST(ConfigDownload, AScheduleThatCannotBeWrittenIsReportedAsFailed) {
    Management m;
    std::filesystem::remove(m.host.dir.path() / "sourceevents.ini");
    std::filesystem::create_directory(m.host.dir.path() / "sourceevents.ini");
    m.answers = {FakeFetcher::ok("A\n"), FakeFetcher::ok("B\n")};
    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.caption(), "Config update failed 08:00:00 2026-07-12");
    EXPECT_EQ(m.statusReports(), 10);
    EXPECT_EQ(m.host.state().ManagementCounter, 0);
}

TEST(ConfigDownload, ABusyFetcherIsCancelledBeforeEachRequest) {
    Management m;
    m.host.state().ManagementUpdate = 0;  // no status reports: only the two downloads
    m.host.managementFetcher.busyAnswer = true;
    m.host.finish(tmrManagementDownload(m.host.station()));
    EXPECT_EQ(m.downloads(), 2);
    EXPECT_EQ(m.host.managementFetcher.cancels, 2);
}

}  // namespace
}  // namespace kestrel
