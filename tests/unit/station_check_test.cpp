#include "check/station_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "check/neighbour_check.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// File contents that stand for something other than bytes.
const std::string kAbsent = "<absent>";
const std::string kDirectory = "<directory>";
const std::string kFifo = "<fifo>";
const std::string kHuge = "<huge>";

const std::string kConfig =
    "[Kestrelfield]\r\nDefaultStrapline=Radio\r\nExtraMetaNowPlaying=OFF\r\n"
    "APIallowed=1\r\nAPIKey=k-of-its-own\r\n";
const std::string kSources = "0u:http://backup:8000/\r\n1n:One\r\n1u:http://one:8000/\r\n";
const std::string kSchedule = "; comment\r\n\r\n2 083000 1\r\n";

void place(const test::TempDir& dir, const std::string& name, const std::string& content) {
    const fs::path file = dir.path() / name;
    if (content == kAbsent) return;
    if (content == kDirectory) fs::create_directory(file);
    if (content == kFifo) mkfifo(file.c_str(), 0600);
    if (content == kHuge) fs::resize_file((dir.write(name, ""), file), 5 << 20);
    if (content.front() != '<') dir.write(name, content);
}

struct Checked {
    int status;
    std::vector<std::string> lines;  // without the directory's path and the summary
};

Checked check(const test::TempDir& dir) {
    std::ostringstream out, err;
    const int status = checkStation(dir.path(), out, err);
    const std::string prefix = dir.path().string() + "/";
    const std::string directory = fs::canonical(dir.path()).string();
    Checked checked{status, {}};
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(prefix)) line.erase(0, prefix.size());
        for (auto at = line.find(directory); at != std::string::npos; at = line.find(directory)) {
            line.replace(at, directory.size(), "DIR");
        }
        checked.lines.push_back(line);
    }
    if (!checked.lines.empty()) checked.lines.pop_back();
    return checked;
}

TEST(StationCheck, EachBrokenFileGivesExactlyItsFindings) {
    struct Case {
        std::string config, sources, schedule;
        std::vector<std::string> expected;
    } cases[] = {
        {kConfig + "AIRenable=Y\r\nMetaWeather=true\r\nCheckSource=01\r\nAIRenable=1\r\n"
                   "ApiAlowed=1\r\nAPIALLOWED=1\r\nFoo=1\r\nSwitchTimeout=10\r\nAPIBind=::1\r\n"
                   "APIPort=65536\r\nStationName=\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini:6: AIRenable=Y reads as off: only 1 turns it on",
          "kestrelfield.ini:7: MetaWeather=true reads as off: only 1 turns it on",
          "kestrelfield.ini:8: CheckSource=01 reads as off: only 1 turns it on",
          "kestrelfield.ini:9: AIRenable again: ignored, line 6 is read",
          "kestrelfield.ini:10: unknown key \"ApiAlowed\": ignored (did you mean APIallowed?)",
          "kestrelfield.ini:11: APIALLOWED again: ignored, line 4 is read",
          "kestrelfield.ini:12: unknown key \"Foo\": ignored",
          "kestrelfield.ini:15: APIPort=65536 is no port from 1 to 65535: the API listens on port "
          "1011"}},
        {"[Kestrelfield]\r\nAPIallowed=1\r\nAPIKey=\r\nMetaWeather=1\r\nMetaLocation=Leeds\r\n"
         "ManagementUpdate=five\r\nCheckForChanges=2\r\n" +
             std::string(1, '\0'),
         kSources,
         kSchedule,
         {"kestrelfield.ini:1: DefaultStrapline is absent and reads as the directory's path "
          "\"DIR\"",
          "kestrelfield.ini:1: ExtraMetaNowPlaying is absent and reads as the directory's path "
          "\"DIR\"",
          "kestrelfield.ini:3: APIKey is empty, but APIallowed=1 turns the API on",
          "kestrelfield.ini:4: MetaWeather=1 turns the weather sentence on, but "
          "MetaOpenWeatherMapKey is absent and reads as the directory's path \"DIR\"",
          "kestrelfield.ini:6: ManagementUpdate=five reads as 0",
          "kestrelfield.ini:7: CheckForChanges=2 leaves change polling off: only 1 turns it on",
          "kestrelfield.ini:8: no \"=\" in the line: ignored"}},
        {"APIKey=k\r\n" + kConfig +
             "ManagementUpdate=3\r\nManagementURL=ftp://x\r\n"
             "ManagementSendURL=http://s/\r\nManagementKey=\r\nDefaultStrapline=" +
             std::string(130, 'x') + "\r\n[Kestrelfield]\r\nAPIKey=j\r\n",
         kSources,
         kAbsent,
         {"kestrelfield.ini:1: outside the [Kestrelfield] section: ignored",
          "kestrelfield.ini:7: ManagementUpdate=3 turns management on, but ManagementSwitcher "
          "is absent and reads as the directory's path \"DIR\"",
          "kestrelfield.ini:8: ManagementURL \"ftp://x\" is not an http:// or https:// address",
          "kestrelfield.ini:11: DefaultStrapline again: ignored, line 3 is read",
          "kestrelfield.ini:12: section [Kestrelfield] is not read: ignored"}},
        {"[Kestrelfield]\r\nDefaultStrapline=R\r\nExtraMetaNowPlaying=OFF\r\nAPIallowed=1\r\n"
         "APIKey=demo-key\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini:5: APIKey is the example's key, and the API listens on every address "
          "(no APIBind): anyone who has read it can switch the station"}},
        {kConfig + "APIBind=127.0.0.1\r\n[Kestrelfield]\r\nAPIKey=short\r\nAPIBind=0.0.0.0\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini:7: section [Kestrelfield] is not read: ignored"}},
        {"[Kestrelfield]\r\nDefaultStrapline=R\r\nExtraMetaNowPlaying=OFF\r\nAPIallowed=1\r\n"
         "APIKey=short\r\nAPIBind=127.0.0.1.5\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini:5: APIKey has only 5 characters, and the API listens beyond this "
          "machine (APIBind=127.0.0.1.5): 12 or more resist guessing"}},
        {"APIallowed=1\r\n[Other]\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini: no [Kestrelfield] section: every key reads as the directory's path, "
          "so every feature is off",
          "kestrelfield.ini:2: section [Other] is not read: ignored"}},
        {"[Kestrelfield]\r\nDefaultStrapline=" + std::string(130, 'x') +
             "\r\nExtraMetaNowPlaying=\r\nAPIallowed=1\r\n",
         kSources,
         kSchedule,
         {"kestrelfield.ini:2: DefaultStrapline is 130 characters long: the station reads only "
          "the first 119",
          "kestrelfield.ini:4: APIallowed=1 turns the API on, but APIKey is absent and reads as "
          "the directory's path \"DIR\""}},
        {kConfig,
         "1N:One\r\nxn:Other\r\n1u:http://one:8000/\r\n1u:http://one:8001/\r\n2n:Two\r\n"
         "3u:rtsp://three:554/\r\n4u:http:/\r\n",
         kSchedule,
         {"sourcelist.ini:1: not a source line (a digit, then n: or u:): ignored",
          "sourcelist.ini:2: does not begin with a digit: ignored by switches, but the status "
          "report lists it as source 0",
          "sourcelist.ini:4: source 1's address again: replaces line 3",
          "sourcelist.ini:5: source 2 has a name but no address: a switch to source 2 restarts "
          "the source on air",
          "sourcelist.ini:6: address of source 3 is not an http:// or https:// address",
          "sourcelist.ini:7: address of source 4 is shorter than 8 characters: a switch to "
          "source 4 restarts the source on air"}},
        {kConfig,
         "; none\r\n",
         "2 083000 1 \r\n2 08300 1\r\n2x083000 1\r\n8 083000 1\r\n2 250000 1\r\n2 08 300 1\r\n",
         {"sourcelist.ini: no source has an address, so nothing plays",
          "sourceevents.ini:1: 11 characters, not 10: ignored (the blank at its end counts)",
          "sourceevents.ini:2: 9 characters, not 10: ignored",
          "sourceevents.ini:3: second character is not a blank: ignored",
          "sourceevents.ini:4: weekday \"8\" is not 1 (Sunday) to 7 (Saturday): never fires",
          "sourceevents.ini:4: source 1 has no usable address in sourcelist.ini: its events "
          "restart the source on air",
          "sourceevents.ini:5: time \"250000\" is not a time of day: never fires",
          "sourceevents.ini:6: time \"08 300\" is not six digits HHMMSS: fires at 000008"}},
        {kConfig,
         kSources,
         "2 083030 1\r\n2 083000 0\r\n2 083000 1\r\n2 090000 x\r\n2 100000 5\r\n3 100000 5\r\n",
         {"sourceevents.ini:3: same day and time as line 2: ignored",
          "sourceevents.ini:4: source \"x\" is not a digit: the event switches to source 0",
          "sourceevents.ini:5: source 5 has no usable address in sourcelist.ini: its events "
          "restart the source on air"}},
        {kAbsent,
         kDirectory,
         kFifo,
         {"kestrelfield.ini: missing: every key reads as the directory's path, so every feature "
          "is off",
          "sourcelist.ini: is a directory: no source has an address, so nothing plays",
          "sourceevents.ini: is not a regular file: nothing switches on schedule"}},
        {"[Kestrelfield]\r\n" + std::string(2000, '\xff'),
         kHuge,
         kAbsent,
         {"kestrelfield.ini:1: DefaultStrapline is absent and reads as the directory's path "
          "\"DIR\"",
          "kestrelfield.ini:1: ExtraMetaNowPlaying is absent and reads as the directory's path "
          "\"DIR\"",
          "kestrelfield.ini:2: no \"=\" in the line: ignored",
          "sourcelist.ini: is 5242880 bytes, far more than a station file: not checked",
          "sourceevents.ini: missing: nothing switches on schedule"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        place(dir, "kestrelfield.ini", c.config);
        place(dir, "sourcelist.ini", c.sources);
        place(dir, "sourceevents.ini", c.schedule);
        const Checked checked = check(dir);
        EXPECT_EQ(checked.lines, c.expected);
        EXPECT_EQ(checked.status, c.expected.empty() ? kCheckClean : kCheckFoundProblems);
    }
}

// Stations side by side on one machine: the instances' directories beside
// each other, under the plain unit's station directory.
TEST(StationCheck, StationsBesideItSharingTheApiOrTheNameAreReported) {
    const std::string api = "[Kestrelfield]\r\nAPIallowed=1\r\n";
    struct Case {
        std::string own, other;
        const char* otherDir;  ///< beside "a", or "" for the directory holding "a"
        std::vector<std::string> expected;
    } cases[] = {
        {api,
         api,
         "b",
         {"kestrelfield.ini: the API's port 1011 on all addresses is also the API of the station "
          "in \"B\": while both run, only the first to start answers (set APIPort or APIBind "
          "apart)"}},
        {api + "APIBind=127.0.0.2\r\n",
         api + "APIPort=1011\r\n",
         "",
         {"kestrelfield.ini: the API's port 1011 on \"127.0.0.2\" is also the API of the station "
          "in \"B\": while both run, only the first to start answers (set APIPort or APIBind "
          "apart)"}},
        {api + "APIPort=1012\r\n", api, "b", {}},
        {api + "APIBind=127.0.0.2\r\n", api + "APIBind=127.0.0.3\r\n", "b", {}},
        {api, "[Kestrelfield]\r\nAPIallowed=0\r\n", "b", {}},
        {"[Kestrelfield]\r\nStationName=Dales\r\n",
         "[Kestrelfield]\r\nStationName=Dales\r\n",
         "b",
         {"kestrelfield.ini: StationName \"Dales\" is also the name of the station in \"B\": "
          "their metrics look alike"}},
        {"[Kestrelfield]\r\nStationName=a\r\n",
         "[Kestrelfield]\r\n",
         "a/a",  // default name
         {"kestrelfield.ini: StationName \"a\" is also the name of the station in \"B\": their "
          "metrics look alike"}},
    };
    for (const Case& c : cases) {
        test::TempDir machine;
        const fs::path own = machine.path() / "a";
        const fs::path other = c.otherDir[0] ? machine.path() / c.otherDir : machine.path();
        fs::create_directories(own);
        fs::create_directories(other);
        fs::create_directory(machine.path() / "not-a-station");
        std::ofstream(own / "kestrelfield.ini") << c.own;
        std::ofstream(other / "kestrelfield.ini") << c.other;
        Findings findings;
        checkNeighbours(own, findings);
        std::vector<std::string> lines = findings.report();
        for (auto& line : lines) {
            const auto at = line.find(other.string());
            if (at != std::string::npos) line.replace(at, other.string().size(), "B");
        }
        EXPECT_EQ(lines, c.expected) << c.own << " / " << c.other;
    }
}

TEST(StationCheck, GarbageIsCappedPerFileAndCountedInTheSummary) {
    test::TempDir dir;
    place(dir, "kestrelfield.ini", kConfig);
    place(dir, "sourcelist.ini", kSources);
    std::string garbage;
    for (int i = 0; i < 60; ++i)
        garbage += "\x01\x02\x03\n";
    place(dir, "sourceevents.ini", garbage);
    std::ostringstream out, err;
    EXPECT_EQ(checkStation(dir.path(), out, err), kCheckFoundProblems);
    const std::string text = out.str();
    EXPECT_NE(text.find("sourceevents.ini:50: 3 characters, not 10: ignored\n"), std::string::npos);
    EXPECT_EQ(text.find("sourceevents.ini:51:"), std::string::npos);
    EXPECT_NE(text.find("sourceevents.ini: 10 more problems not shown\n60 problems found in "),
              std::string::npos);
}

TEST(StationCheck, ExampleStationIsCleanAndAnUnreadableDirectoryIsStatusTwo) {
    std::ostringstream out, err;
    EXPECT_EQ(checkStation(KESTREL_SOURCE_DIR "/examples/station", out, err), kCheckClean);
    EXPECT_TRUE(out.str().starts_with("no problems found in ")) << out.str();
    test::TempDir dir;
    dir.write("file", "x");
    for (const fs::path& bad : {dir.path() / "absent", dir.path() / "file"}) {
        std::ostringstream badOut, badErr;
        EXPECT_EQ(checkStation(bad, badOut, badErr), kCheckCannotRead) << bad;
        EXPECT_EQ(badOut.str(), "");
        EXPECT_TRUE(badErr.str().starts_with("kestrelfield: cannot read ")) << badErr.str();
    }
}

}  // namespace
}  // namespace kestrel
