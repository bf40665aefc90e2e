#include "platform/posix_command_runner.h"
#include "support/wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/qt_event_loop.h"
#include "platform/posix_detached_start.h"
#include "platform/proc_processes.h"
#include "support/process_cleanup.h"
#include "support/qt_loop.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using test::waitUntil;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readLink(const fs::path& link) {
    std::error_code error;
    const auto target = fs::read_symlink(link, error);
    return error ? std::string() : target.string();
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> argvOf(pid_t pid) {
    std::vector<std::string> args;
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/cmdline"));
    for (std::string arg; std::getline(in, arg, '\0');)
        args.push_back(arg);
    return args;
}

// The players this test's station directory owns, found as the station finds
// them; killing strictly by pid keeps other players of this user alive.
class OwnPlayers {
public:
    explicit OwnPlayers(const fs::path& dir) : m_mark(stationMark(dir)) {}
    ~OwnPlayers() {
        for (const char* name : {"mplayer1.exe", "mplayer2.exe"}) {
            for (const pid_t pid : of(name))
                ::kill(pid, SIGKILL);
        }
    }
    std::vector<pid_t> of(const std::string& name) const {
        return findStationProcesses(name, m_mark).value_or(std::vector<pid_t>{});
    }

private:
    std::string m_mark;
};

// Stands in for MPlayer: logs its arguments and, like MPlayer's cache, keeps
// a forked child of the same name. Both wait on a FIFO nobody writes to.
constexpr const char* kFakePlayer =
    "#!/bin/bash\n"
    "echo \"Playing $1.\"\n"
    "echo \"args: $*\"\n"
    "[ -z \"$KESTREL_TEST_VAR\" ] || echo \"env: $KESTREL_TEST_VAR\"\n"
    "exec 3<>hold\n"
    "(read -u 3 x) &\n"
    "read -u 3 x\n";

class PosixCommandRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkfifo((dir.path() / "hold").c_str(), 0600), 0);
        dir.write("mplayer1", kFakePlayer);
        fs::permissions(dir.path() / "mplayer1", fs::perms::owner_all);
    }

    test::TempDir dir;
    OwnPlayers players{dir.path()};
    PosixCommandRunner runner{dir.path()};
};

TEST_F(PosixCommandRunnerTest, PlayerStartsDetachedMarkedWithItsLogAndStopEndsItAndItsChild) {
    // A descriptor the station leaves inheritable must not reach the player.
    const int socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(socketFd, 0);
    dir.write("mplayer1.log", std::string(5000, 'x'));
    const std::string url = "http://127.0.0.1:1/a b?x=1&y=\"%20\"; touch injected";

    ASSERT_TRUE(runner.run(StartPlayer{1, url}, WindowStyle::MinimisedWithFocus));
    ::close(socketFd);
    ASSERT_TRUE(waitUntil([&] { return players.of("mplayer1.exe").size() == 2; }));
    ASSERT_TRUE(
        waitUntil([&] { return dir.read("mplayer1.log").find("args:") != std::string::npos; }));
    EXPECT_EQ(dir.read("mplayer1.log"), "Playing " + url + ".\nargs: " + url + " -quiet\n");
    EXPECT_FALSE(dir.exists("injected"));
    EXPECT_EQ(fs::status(dir.path() / "mplayer1.log").permissions() & fs::perms::owner_write,
              fs::perms::owner_write);

    const auto pids = players.of("mplayer1.exe");
    const pid_t leader = ::getsid(pids[0]) == pids[0] ? pids[0] : pids[1];
    for (const pid_t pid : pids) {
        const auto proc = "/proc/" + std::to_string(pid);
        EXPECT_EQ(::getsid(pid), leader) << "own session";
        EXPECT_NE(::getsid(pid), ::getsid(0));
        EXPECT_EQ(readLink(proc + "/fd/0"), "/dev/null");
        EXPECT_EQ(readLink(proc + "/fd/1"), fs::canonical(dir.path() / "mplayer1.log").string());
        EXPECT_EQ(readLink(proc + "/fd/2"), readLink(proc + "/fd/1")) << "warnings in the log";
        EXPECT_NE(readFile(proc + "/environ")
                      .find("KESTRELFIELD_STATION=" + fs::canonical(dir.path()).string() + '\0'),
                  std::string::npos)
            << "marked as the station's";
        for (const auto& fd : fs::directory_iterator(proc + "/fd"))
            EXPECT_EQ(readLink(fd.path()).rfind("socket:", 0), std::string::npos) << fd.path();
        // Reparented away from the station, which therefore has no zombie to reap.
        const auto stat = readFile(proc + "/stat");
        const pid_t parent = std::atoi(stat.c_str() + stat.rfind(')') + 4);
        EXPECT_NE(parent, ::getpid());
    }
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the station has no child left";

    EXPECT_TRUE(runner.run(StopPlayer{1}, WindowStyle::MinimisedWithFocus));
    EXPECT_TRUE(waitUntil([&] { return players.of("mplayer1.exe").empty(); }));

    // A restart replaces the log's contents; the player gets the command's
    // environment, but not the options meant for the system mplayer.
    ASSERT_TRUE(runner.run(
        StartPlayer{1, "http://second", {"-af", "volume=0"}, {{"KESTREL_TEST_VAR", "a b=c"}}},
        WindowStyle::MinimisedWithFocus));
    ASSERT_TRUE(
        waitUntil([&] { return dir.read("mplayer1.log").find("env:") != std::string::npos; }));
    EXPECT_EQ(dir.read("mplayer1.log"),
              "Playing http://second.\nargs: http://second -quiet\nenv: a b=c\n");
}

// Two stations of one user: each one's stop ends only its own slot's players,
// and no variable of a start command changes whose players they are.
TEST_F(PosixCommandRunnerTest, StopsOnlyTheStationsOwnPlayers) {
    test::TempDir otherDir;
    ASSERT_EQ(::mkfifo((otherDir.path() / "hold").c_str(), 0600), 0);
    otherDir.write("mplayer1", kFakePlayer);
    fs::permissions(otherDir.path() / "mplayer1", fs::perms::owner_all);
    OwnPlayers others{otherDir.path()};
    PosixCommandRunner other{otherDir.path()};
    ASSERT_TRUE(runner.run(StartPlayer{1, "http://a"}, WindowStyle::MinimisedWithFocus));
    ASSERT_TRUE(other.run(StartPlayer{1, "http://b", {}, {{"KESTRELFIELD_STATION", "/elsewhere"}}},
                          WindowStyle::MinimisedWithFocus));
    ASSERT_TRUE(waitUntil([&] {
        return players.of("mplayer1.exe").size() == 2 && others.of("mplayer1.exe").size() == 2;
    }));
    const auto theirs = others.of("mplayer1.exe");

    EXPECT_TRUE(runner.run(StopPlayer{1}, WindowStyle::MinimisedWithFocus));
    EXPECT_TRUE(waitUntil([&] { return players.of("mplayer1.exe").empty(); }));
    EXPECT_EQ(others.of("mplayer1.exe"), theirs);
    for (const pid_t pid : theirs)
        EXPECT_TRUE(test::stillRunning(pid));
}

// Given the event loop, the runner tells when a player it started ends,
// whoever ended it; not before.
TEST_F(PosixCommandRunnerTest, TellsWhenAPlayerItStartedEnds) {
    test::ensureApplication();
    QtEventLoop loop;
    PosixCommandRunner telling{dir.path(), &loop};
    std::vector<int> ended;
    telling.onPlayerEnded([&](int slot) { ended.push_back(slot); });
    ASSERT_TRUE(telling.run(StartPlayer{1, "http://a"}, WindowStyle::MinimisedWithFocus));
    ASSERT_TRUE(waitUntil([&] { return players.of("mplayer1.exe").size() == 2; }));
    EXPECT_FALSE(test::pumpUntil([&] { return !ended.empty(); }, 300ms));
    for (const pid_t pid : players.of("mplayer1.exe"))
        ::kill(pid, SIGKILL);
    EXPECT_TRUE(test::pumpUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended, std::vector<int>{1});
}

TEST_F(PosixCommandRunnerTest, FallsBackToTheSystemMplayerUnderTheSlotName) {
    if (!findOnPath("mplayer") || findOnPath("mplayer2")) GTEST_SKIP() << "needs mplayer only";
    // MPlayer blocks opening the FIFO, so it stays up long enough to be looked at.
    ASSERT_TRUE(
        runner.run(StartPlayer{2, "hold", {"-af", "volume=0"}}, WindowStyle::MinimisedWithFocus));
    ASSERT_TRUE(waitUntil([&] { return !players.of("mplayer2.exe").empty(); }));
    EXPECT_EQ(argvOf(players.of("mplayer2.exe").front()),
              (std::vector<std::string>{"mplayer2", "-noconsolecontrols", "-quiet", "-msglevel",
                                        "cplayer=4", "-af", "volume=0", "--", "hold"}));
    EXPECT_TRUE(waitUntil(
        [&] { return dir.read("mplayer2.log").find("Playing hold.") != std::string::npos; }));
}

TEST_F(PosixCommandRunnerTest, DeleteRemovesOnlyPlainFilesOfTheWorkingDirectory) {
    dir.write("metadata.txt", "x");
    fs::create_directory(dir.path() / "sub");
    struct Case {
        std::string file;
        bool result;
    } cases[] = {
        {"metadata.txt", true},
        {"metaextra.txt", true},  // already absent
        {"sub", false},
        {"../" + dir.path().filename().string() + "/mplayer1", false},
        {(dir.path() / "mplayer1").string(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runner.run(DeleteFile{c.file}, WindowStyle::MinimisedWithFocus), c.result)
            << c.file;
    EXPECT_FALSE(dir.exists("metadata.txt"));
    EXPECT_TRUE(dir.exists("sub"));
    EXPECT_TRUE(dir.exists("mplayer1"));
}

TEST_F(PosixCommandRunnerTest, RefusesOtherSlotsAndFilesOutsideTheDirectory) {
    dir.write("marker", "keep");
    const StationCommand refused[] = {
        StartPlayer{3, "http://x"},
        StartPlayer{0, "http://x"},
        StopPlayer{3},
        StopPlayer{-1},
        DeleteFile{""},
        DeleteFile{"marker && rm marker"},
        DeleteFile{"*"},
        OpenEditor{"../marker"},
        OpenEditor{"/etc/passwd"},
    };
    for (const auto& command : refused)
        EXPECT_FALSE(runner.run(command, WindowStyle::MinimisedWithFocus)) << command.index();
    EXPECT_EQ(dir.read("marker"), "keep");
    EXPECT_FALSE(dir.exists("mplayer1.log"));
    EXPECT_FALSE(dir.exists("mplayer2.log"));
    EXPECT_TRUE(players.of("mplayer1.exe").empty());
}

TEST_F(PosixCommandRunnerTest, EditorOpensThroughXdgOpenWhenThereIsOne) {
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    const auto bin = dir.path() / "bin";
    fs::create_directory(bin);
    {
        std::ofstream(bin / "xdg-open")
            << "#!/bin/sh\necho \"$1\" >opened.tmp && exec /bin/mv opened.tmp opened\n";
    }
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);

    ::setenv("PATH", bin.c_str(), 1);
    const bool withOpener = runner.run(OpenEditor{"sourcelist.ini"}, WindowStyle::NormalWithFocus);
    ::setenv("PATH", (dir.path() / "none").c_str(), 1);
    const bool withoutOpener =
        runner.run(OpenEditor{"sourcelist.ini"}, WindowStyle::NormalWithFocus);
    ::setenv("PATH", savedPath.c_str(), 1);

    EXPECT_TRUE(withOpener);
    EXPECT_FALSE(withoutOpener);
    ASSERT_TRUE(waitUntil([&] { return dir.exists("opened"); }));
    EXPECT_EQ(dir.read("opened"), (fs::absolute(dir.path()) / "sourcelist.ini").string() + "\n");
}

}  // namespace
}  // namespace kestrel
