#include "playback/source_list.h"

#include <gtest/gtest.h>

#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using test::TempDir;

struct Case {
    const char* name;
    std::string file;
    std::string key;
    SourceEntry lookedUp;  // keyed lookup of `key`
    int scanIndex;         // table scan entry checked
    SourceEntry scanned;
};

TEST(SourceList, BothDisciplinesReadTheFileAsDefined) {
    const Case cases[] = {
        {"name before address",
         "1n:One FM\r\n1u:http://one:8000/a\r\n",
         "1",
         {"One FM", "http://one:8000/a"},
         1,
         {"One FM", "http://one:8000/a"}},
        {"address before name",
         "1u:http://one:8000/a\r\n;c\r\n1n:One FM\r\n",
         "1",
         {"One FM", "http://one:8000/a"},
         1,
         {"One FM", "http://one:8000/a"}},
        {"nothing after the colon",
         "1n:\r\n1u:http://one:8000/a\r\n",
         "1",
         {"", "http://one:8000/a"},
         1,
         {"", "http://one:8000/a"}},
        {"capital letter ignored by both",
         "1N:One FM\r\n1U:http://x\r\n",
         "1",
         {"", ""},
         1,
         {"", ""}},
        {"last line wins",
         "1u:http://first\r\n1u:http://second\r\n",
         "1",
         {"", "http://second"},
         1,
         {"", "http://second"}},
        {"letter in front: source 0's lookup misses it, the scan files it under 0",
         "xn:Ex FM\r\nxu:http://ex\r\n",
         "0",
         {"", ""},
         0,
         {"Ex FM", "http://ex"}},
        {"blank or sign as key also counts as 0 in the scan",
         " n:Blank\r\n-u:http://minus\r\n",
         "0",
         {"", ""},
         0,
         {"Blank", "http://minus"}},
        {"comment ignored by both", ";1u:http://commented\r\n", "1", {"", ""}, 1, {"", ""}},
        {"trailing blanks kept", "2n:Two FM  \r\n", "2", {"Two FM  ", ""}, 2, {"Two FM  ", ""}},
        {"LF and lone CR line ends",
         "3n:Three\n3u:http://three\r4n:Four",
         "3",
         {"Three", "http://three"},
         4,
         {"Four", ""}},
        {"longer key finds nothing", "1n:One\r\n12n:Twelve\r\n", "12", {"", ""}, 1, {"One", ""}},
        {"empty key finds nothing", "n:\r\nu:\r\nn:x\r\n", "", {"", ""}, 0, {"", ""}},
        {"short lines ignored", "1n\r\n1\r\n\r\n", "1", {"", ""}, 1, {"", ""}},
        {"value taken verbatim after three characters",
         "5u:http://a?b=c&d n:e\r\n",
         "5",
         {"", "http://a?b=c&d n:e"},
         5,
         {"", "http://a?b=c&d n:e"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write(kSourceListFile, c.file);
        const auto file = dir.path() / kSourceListFile;
        const SourceEntry found = lookupSource(file, c.key);
        EXPECT_EQ(found.name, c.lookedUp.name) << c.name;
        EXPECT_EQ(found.address, c.lookedUp.address) << c.name;
        const SourceTable table = scanSources(file);
        EXPECT_EQ(table.names[c.scanIndex], c.scanned.name) << c.name;
        EXPECT_EQ(table.addresses[c.scanIndex], c.scanned.address) << c.name;
    }
}

TEST(SourceList, ScanFillsAllTenEntriesAndLeavesTheRestEmpty) {
    TempDir dir;
    std::string file = "; the station's sources\r\n";
    for (int n = 0; n <= 9; n += 3) {
        file += std::to_string(n) + "n:Name " + std::to_string(n) + "\r\n";
        file += std::to_string(n) + "u:http://s" + std::to_string(n) + "\r\n";
    }
    dir.write(kSourceListFile, file);
    const SourceTable table = scanSources(dir.path() / kSourceListFile);
    for (int n = 0; n <= 9; ++n) {
        const bool present = n % 3 == 0;
        EXPECT_EQ(table.names[n], present ? "Name " + std::to_string(n) : "") << n;
        EXPECT_EQ(table.addresses[n], present ? "http://s" + std::to_string(n) : "") << n;
    }
}

TEST(SourceList, MissingOrUnreadableFileGivesEmptyResults) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "directory.ini");
    for (const char* name : {"absent.ini", "directory.ini"}) {
        const auto file = dir.path() / name;
        const SourceEntry found = lookupSource(file, "1");
        EXPECT_TRUE(found.name.empty() && found.address.empty()) << name;
        const SourceTable table = scanSources(file);
        for (int n = 0; n <= 9; ++n) {
            EXPECT_TRUE(table.names[n].empty() && table.addresses[n].empty()) << name;
        }
    }
}

// The station reads the list through a cache of its bytes: every kind of
// edit an engineer makes is seen by the next lookup.
TEST(SourceList, AnEditIsSeenByTheNextLookup) {
    TempDir dir;
    const auto file = dir.path() / kSourceListFile;
    CachedFile cache;
    const auto addressOf1 = [&]() -> std::string {
        const std::string* bytes = cache.read(file);
        return bytes ? lookupSourceIn(*bytes, "1").address : "unreadable";
    };
    EXPECT_EQ(addressOf1(), "unreadable");
    dir.write(kSourceListFile, "1u:http://one:8000/a\r\n");
    EXPECT_EQ(addressOf1(), "http://one:8000/a");
    EXPECT_EQ(addressOf1(), "http://one:8000/a");  // unchanged: held
    dir.write(kSourceListFile, "1u:http://one:8000/longer\r\n");
    EXPECT_EQ(addressOf1(), "http://one:8000/longer");
    // An editor that saves to a new file and renames it over the old one.
    dir.write("sourcelist.ini.new", "1u:http://two:8000/longer\r\n");
    std::filesystem::rename(dir.path() / "sourcelist.ini.new", file);
    EXPECT_EQ(addressOf1(), "http://two:8000/longer");
    std::filesystem::remove(file);
    EXPECT_EQ(addressOf1(), "unreadable");
}

}  // namespace
}  // namespace kestrel
