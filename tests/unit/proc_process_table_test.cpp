#include "platform/proc_process_table.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/proc_processes.h"
#include "platform/socket_intake.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

constexpr const char* kStation = "/srv/station-a";

struct FakeProcess {
    std::string pid;
    std::string comm;
    char state;
    std::string cmdline;  // NUL separated
    uid_t uid;
    std::string environ = std::string("KESTRELFIELD_STATION=") + kStation + '\0';
    std::string cwd = "/";
};

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

void addProcess(const test::TempDir& proc, const FakeProcess& p) {
    const auto dir = proc.path() / p.pid;
    std::filesystem::create_directory(dir);
    writeFile(dir / "comm", p.comm + "\n");
    writeFile(dir / "stat", p.pid + " (" + p.comm + ") " + p.state + " 1 1 1 0 -1\n");
    const auto uid = std::to_string(p.uid);
    writeFile(dir / "status", "Name:\t" + p.comm + "\nState:\t" + p.state + "\nUid:\t" + uid +
                                  "\t" + uid + "\t" + uid + "\t" + uid + "\n");
    writeFile(dir / "cmdline", p.cmdline);
    writeFile(dir / "environ", p.environ);
    std::filesystem::create_directory_symlink(p.cwd, dir / "cwd");
}

TEST(ProcProcesses, MatchesCommOrArgv0WithOrWithoutExeForLiveProcessesOfThisUser) {
    using namespace std::string_literals;
    const uid_t me = getuid();
    test::TempDir proc;
    const FakeProcess processes[] = {
        {"101", "mplayer1", 'S', "/usr/bin/mplayer1\0-quiet\0"s, me},
        {"102", "mplayer", 'R', "mplayer1\0http://a\0"s, me},           // argv[0] set by the runner
        {"103", "sh", 'S', "/bin/sh\0./mplayer1\0"s, me},               // only argv[1]: no match
        {"104", "mplayer1", 'Z', ""s, me},                              // zombie
        {"105", "mplayer1", 'S', "mplayer1\0"s, me + 1},                // another user
        {"106", "MPlayer1.EXE", 'S', "C:\\mplayer1.exe\0"s, me},        // case and .exe
        {"107", "odd) S (name", 'S', "/opt/mplayer1.exe\0x y\0"s, me},  // ")" inside comm
        {"108", "mplayer2", 'S', "mplayer2\0"s, me},
        {"109", "mplayer1x", 'S', "mplayer1x\0"s, me},
    };
    for (const auto& p : processes)
        addProcess(proc, p);
    std::filesystem::create_directory(proc.path() / "self");
    std::filesystem::create_directory(proc.path() / "99999999999999999999");
    std::filesystem::create_directory(proc.path() / "110");  // vanished: no files left

    for (const char* name : {"mplayer1.exe", "mplayer1", "MPLAYER1.exe"}) {
        auto pids = findStationProcesses(name, kStation, proc.path());
        ASSERT_TRUE(pids) << name;
        std::sort(pids->begin(), pids->end());
        EXPECT_EQ(*pids, (std::vector<pid_t>{101, 102, 106, 107})) << name;
    }
    EXPECT_EQ(ProcProcessTable(kStation, proc.path()).check("mplayer2.exe"), ProcessCheck::Running);
    EXPECT_EQ(ProcProcessTable(kStation, proc.path()).check("mplayer3.exe"),
              ProcessCheck::NotRunning);
    EXPECT_EQ(ProcProcessTable(kStation, proc.path()).check(".exe"), ProcessCheck::NotRunning);
}

// A station's players carry its directory in their environment; one started
// before players were marked is known by its working directory instead.
TEST(ProcProcesses, FindsOnlyTheStationsOwnPlayers) {
    using namespace std::string_literals;
    const uid_t me = getuid();
    const std::string mine = "KESTRELFIELD_STATION="s + kStation + '\0';
    test::TempDir proc;
    const FakeProcess processes[] = {
        {"301", "mplayer1", 'S', "mplayer1\0"s, me, "A=1\0"s + mine + "B=2\0"s},
        {"302", "mplayer1", 'S', "mplayer1\0"s, me, "KESTRELFIELD_STATION=/srv/station-b\0"s},
        {"303", "mplayer1", 'S', "mplayer1\0"s, me, "KESTRELFIELD_STATION=/srv/station-a/x\0"s},
        {"304", "mplayer1", 'S', "mplayer1\0"s, me, "A=1\0"s, kStation},  // unmarked, ours
        {"305", "mplayer1", 'S', "mplayer1\0"s, me, "A=1\0"s, "/srv"},    // unmarked, elsewhere
        {"306", "mplayer1", 'S', "mplayer1\0"s, me, "KESTRELFIELD_STATION=/srv/station-b\0"s,
         kStation},  // marked wins
        {"307", "mplayer1", 'S', "mplayer1\0"s, me, mine, "/tmp"},
        {"308", "mplayer1", 'S', "mplayer1\0"s, me, "KESTRELFIELD_STATION\0"s + mine},
        {"309", "mplayer1", 'S', "mplayer1\0"s, me, std::string(70000, 'x') + '\0' + mine},
    };
    for (const auto& p : processes)
        addProcess(proc, p);
    auto pids = findStationProcesses("mplayer1", kStation, proc.path());
    ASSERT_TRUE(pids);
    std::sort(pids->begin(), pids->end());
    EXPECT_EQ(*pids, (std::vector<pid_t>{301, 304, 307, 308, 309}));
    EXPECT_EQ(ProcProcessTable("/srv/station-b", proc.path()).check("mplayer1"),
              ProcessCheck::Running);
    EXPECT_EQ(ProcProcessTable("/srv/station-c", proc.path()).check("mplayer1"),
              ProcessCheck::NotRunning);
}

// A walk passes over processes that had no wanted name; a command makes the
// table look at every process again, one that has since exec'd into a player too.
TEST(ProcProcessTable, AProcessThatBecomesAPlayerIsSeenAfterACommand) {
    using namespace std::string_literals;
    test::TempDir proc;
    addProcess(proc, {"201", "bash", 'S', "bash\0"s, getuid()});
    ProcProcessTable table(kStation, proc.path());
    EXPECT_EQ(table.check("mplayer1.exe"), ProcessCheck::NotRunning);
    std::filesystem::remove_all(proc.path() / "201");
    addProcess(proc, {"201", "mplayer", 'S', "mplayer1\0http://a\0"s, getuid()});
    table.forget();
    EXPECT_EQ(table.check("mplayer1.exe"), ProcessCheck::Running);
}

TEST(ProcProcesses, NameRule) {
    struct Case {
        const char* candidate;
        const char* name;
        bool matches;
    } cases[] = {
        {"mplayer1", "mplayer1.exe", true},
        {"mplayer1.exe", "mplayer1.exe", true},
        {"mplayer1.exe", "mplayer1", true},
        {"Mplayer1", "mplayer1.EXE", true},
        {"mplayer1.exe.exe", "mplayer1", false},
        {"mplayer", "mplayer1.exe", false},
        {"", "mplayer1.exe", false},
        {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isProcessName(c.candidate, c.name), c.matches) << c.candidate << " / " << c.name;
}

TEST(ProcProcessTable, CheckThatCannotBeMadeIsUnknown) {
    test::TempDir emptyProc;
    EXPECT_EQ(ProcProcessTable(kStation, emptyProc.path() / "absent").check("mplayer1.exe"),
              ProcessCheck::Unknown);
    EXPECT_EQ(ProcProcessTable(kStation, emptyProc.path()).check("mplayer1.exe"),
              ProcessCheck::Unknown);
}

TEST(ProcProcessTable, FindsThisTestOnTheRealProc) {
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    // Unmarked, this test belongs to the station of its working directory.
    const auto here = std::filesystem::current_path();
    const auto pids = findStationProcesses(comm + ".exe", stationMark(here));
    ASSERT_TRUE(pids);
    EXPECT_NE(std::find(pids->begin(), pids->end(), getpid()), pids->end());
    EXPECT_EQ(findStationProcesses(comm + ".exe", stationMark(here / "elsewhere")),
              std::vector<pid_t>{});
    EXPECT_EQ(ProcProcessTable(here).check("no-such-kestrel-program.exe"),
              ProcessCheck::NotRunning);
}

// This test receives bytes over loopback TCP with recv(), as a player reads
// its stream: the count grows by at least that much, though rchar does not.
TEST(ProcProcessTable, BytesReadCountWhatTheProcessesSocketsReceived) {
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    ProcProcessTable table(std::filesystem::current_path());
    EXPECT_FALSE(table.bytesRead("no-such-kestrel-program.exe"));

    const test::LoopbackConnection connection;
    const int sender = connection.client;
    const int receiver = connection.accepted;
    const auto before = table.bytesRead(comm);
    ASSERT_TRUE(before);
    const std::string data(100'000, 'x');
    std::size_t received = 0;
    for (std::size_t sent = 0; received < data.size();) {
        const ssize_t out = ::send(sender, data.data() + sent, data.size() - sent, MSG_DONTWAIT);
        if (out > 0) sent += static_cast<std::size_t>(out);
        char buffer[65536];
        const ssize_t got = ::recv(receiver, buffer, sizeof buffer, 0);
        ASSERT_GT(got, 0);
        received += static_cast<std::size_t>(got);
    }
    const auto after = table.bytesRead(comm);
    ASSERT_TRUE(after);
    EXPECT_GE(*after - *before, data.size());
}

// A socket first seen before it is connected (a player between socket() and
// connect()) is looked for again, and counted once its stream flows.
TEST(SocketIntake, ASocketSeenBeforeItConnectedIsLookedForAgain) {
    using namespace std::chrono_literals;
    const int late = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(late, &info), 0);
    const std::vector<std::uint64_t> inodes = {info.st_ino};
    KnownSockets known;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tcpBytesReceived(inodes, &known, t0), 0u);

    const test::LoopbackConnection connection(late);
    const std::string data(1000, 'x');
    ASSERT_EQ(::send(connection.accepted, data.data(), data.size(), 0), 1000);
    char buffer[1000];
    for (std::size_t got = 0; got < data.size();)
        got += static_cast<std::size_t>(::recv(late, buffer, sizeof buffer, 0));
    EXPECT_EQ(tcpBytesReceived(inodes, &known, t0 + 500ms), 0u) << "not looked for yet";
    EXPECT_EQ(tcpBytesReceived(inodes, &known, t0 + 1100ms), 1000u);
    // Held by two processes (a player and its forked cache): counted once,
    // whether looked up or found by a dump.
    const std::vector<std::uint64_t> twice = {info.st_ino, info.st_ino};
    EXPECT_EQ(tcpBytesReceived(twice, &known, t0 + 1200ms), 1000u);
    EXPECT_EQ(tcpBytesReceived(twice), 1000u);
}

}  // namespace
}  // namespace kestrel
