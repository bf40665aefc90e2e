#include "station/station_files.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/file_io.h"

#include "status/metrics_text.h"
#include "status/status_json.h"
#include "support/sim_host.h"
#include "support/temp_dir.h"
#include "support/text_count.h"

namespace kestrel {
namespace {

// A 64 KiB tmpfs the test mounts over a directory (root only); gone with it.
struct TinyTmpfs {
    explicit TinyTmpfs(std::filesystem::path at) : path(std::move(at)) {
        mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted) whyNot = std::strerror(errno);
    }
    ~TinyTmpfs() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
    }
    void fill() const {
        std::ofstream filler(path / "filler", std::ios::binary | std::ios::app);
        while (filler << std::string(4096, 'f') << std::flush) {
        }
    }

    std::filesystem::path path;
    bool mounted = false;
    std::string whyNot;
};

TEST(StationFiles, FullDirectoryKeepsOldContentAndSaysWhichFileCannotBeWritten) {
    test::SimHost host;
    TinyTmpfs tmpfs(host.dir.path());
    if (!tmpfs.mounted) GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << tmpfs.whyNot;
    const std::string schedule = "2 070000 3\r\n2 080300 5\r\n";
    host.write("kestrelfield.ini",
               "[Kestrelfield]\r\nDefaultStrapline=Old line\r\nManagementUpdate=2\r\n"
               "ManagementURL=http://m.example/get.php\r\n");
    host.write(
        "sourcelist.ini",
        "3n:Three\r\n3u:http://three.example/live\r\n5n:Five\r\n5u:http://five.example/live\r\n");
    host.write("sourceevents.ini", schedule);
    // The players hand over what they decode on another tmpfs: a new player
    // plays although its log cannot be written.
    host.players.soundOfUrl["http://five.example/live"] = -20.0;
    host.managementFetcher.respond = [](const std::string&) {
        return test::FakeFetcher::ok("1 000000 9\r\n");
    };
    host.start();
    host.runFor(60);
    ASSERT_EQ(host.read("metadata.txt"), "Old line\r\n");
    ASSERT_EQ(host.state().CurrentSource, 3);

    tmpfs.fill();
    host.display().lblRXmetadata.caption = "Artist - New Title";
    host.runFor(90);  // the download at 08:02 and nine metadata ticks
    EXPECT_EQ(host.read("metadata.txt"), "Old line\r\n");
    EXPECT_EQ(host.read("sourceevents.ini"), schedule);
    for (const char* file : {"metadata.txt", "metaextra.txt", "sourceevents.ini"}) {
        EXPECT_EQ(test::countOf(host.journal.str(), std::string("event=write_failed file=") + file +
                                                        " error=\"No space left on device\""),
                  1)
            << file;
    }
    EXPECT_NE(metricsText(host.station())
                  .find("kestrelfield_write_failures_total{file=\"metadata.txt\"} 9\n"),
              std::string::npos)
        << "one a metadata tick";
    const auto status = nlohmann::json::parse(statusJson(host.station()));
    EXPECT_EQ(status["unwritableFiles"].size(), 3u) << status["unwritableFiles"];
    EXPECT_EQ(status["unwritableFiles"][0]["error"], "No space left on device");

    host.runFor(60);
    EXPECT_EQ(host.state().CurrentSource, 5) << "the station keeps switching";

    std::filesystem::remove(tmpfs.path / "filler");
    host.runFor(10);
    EXPECT_EQ(host.read("metadata.txt"), "Artist - New Title\r\n");
    EXPECT_GE(test::countOf(host.journal.str(), "event=write_recovered file=metadata.txt"), 1);
    EXPECT_EQ(nlohmann::json::parse(statusJson(host.station()))["unwritableFiles"].size(), 1u)
        << "the schedule waits for its next download";
}

// Two writers of one file (two stations in one directory, or a download
// beside a tick) each leave it whole, as a plainly created file would be.
TEST(StationFiles, TwoWritersOfOneFileNeverMixTheirBytes) {
    test::TempDir dir;
    const auto file = dir.path() / "metadata.txt";
    const std::string mine(200000, 'a'), theirs(300000, 'b');
    std::atomic<bool> done = false;
    std::thread other([&] {
        while (!done)
            replaceFileDurably(file, theirs);
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_FALSE(replaceFileDurably(file, mine));
        std::string read;
        readWholeFile(file, read);
        EXPECT_TRUE(read == mine || read == theirs) << read.size() << " bytes";
    }
    done = true;
    other.join();
    std::ofstream(dir.path() / "plain");
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::status(dir.path() / "plain").permissions());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
        << "no temporary file is left";
}

}  // namespace
}  // namespace kestrel
