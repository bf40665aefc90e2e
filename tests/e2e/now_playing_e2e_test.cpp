// The real station, the real MPlayer and the ICY test stream on 127.0.0.1:
// the now-playing files carry the stream's title, a killed player is logged
// and started again, a stalled stream is played again from the other slot,
// and a slow service holds up neither switches nor the API.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <ctime>

#include "metadata/player_log_reader.h"
#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/process_cleanup.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kStation = KESTREL_BINARY_DIR "/kestrelfield";
const fs::path kStreamTool = KESTREL_BINARY_DIR "/icy_test_stream";
const std::string kFirstTitle = "E2E Artist - First Title";
const std::string kSecondTitle = "E2E Artist - Second Title";

// A child process in a process group of its own (MPlayer forks a cache
// process), ended with SIGKILL when the test ends early.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(SIGKILL); }

    /// Starts `argv` in `directory` with `environment` added; stdout goes to
    /// `output` (or a pipe the caller reads with firstLine() when empty).
    bool start(const std::vector<std::string>& argv, const fs::path& directory,
               const std::vector<std::pair<std::string, std::string>>& environment,
               const fs::path& output) {
        int pipeFds[2] = {-1, -1};
        if (output.empty() && pipe(pipeFds) != 0) return false;
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);  // a group of its own, so that its children end with it
            if (chdir(directory.c_str()) != 0) _exit(127);
            for (const auto& [name, value] : environment)
                setenv(name.c_str(), value.c_str(), 1);
            const int out = output.empty()
                                ? pipeFds[1]
                                : ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            const int devNull = ::open("/dev/null", O_RDONLY);
            dup2(devNull, STDIN_FILENO);
            std::vector<char*> args;
            for (const auto& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        if (!output.empty()) return m_pid > 0;
        close(pipeFds[1]);
        m_pipe = pipeFds[0];
        return m_pid > 0;
    }

    /// The first line the child printed (blocking).
    std::string firstLine() {
        std::string line;
        char c = 0;
        while (m_pipe >= 0 && read(m_pipe, &c, 1) == 1 && c != '\n')
            line.push_back(c);
        return line;
    }

    /// Sends `signal` and reaps the child; its exit status, or -1.
    int stop(int signal) {
        if (m_pid <= 0) return -1;
        kill(-m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        if (m_pipe >= 0) close(m_pipe);
        m_pipe = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
};

bool waitFor(std::chrono::seconds limit, const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return condition();
}

// A short MP3 made with sox and lame once per build tree; empty when that
// fails, and the stream then serves its built-in silence.
std::string testMp3() {
    const fs::path mp3 = KESTREL_BINARY_DIR "/test_stream.mp3";
    if (!fs::exists(mp3)) {
        const std::string command =
            KESTREL_SOURCE_DIR "/scripts/make_test_mp3 \"" + mp3.string() + "\" 6 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return {};
    }
    return mp3.string();
}

// The ICY test stream on a free port of 127.0.0.1.
struct TestStream {
    /// `options` come last and win (a fixed "--port", "--pace", "--first-byte-after").
    explicit TestStream(const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv = {kStreamTool.string(),
                                         "--port",
                                         "0",
                                         "--name",
                                         "E2E Stream",
                                         "--genre",
                                         "Chimes",
                                         "--url",
                                         "http://127.0.0.1/e2e",
                                         "--pub",
                                         "1",
                                         "--br",
                                         "128",
                                         "--every",
                                         "4",
                                         "--titles",
                                         kFirstTitle + "|" + kSecondTitle};
        if (const std::string mp3 = testMp3(); !mp3.empty()) {
            argv.insert(argv.end(), {"--mp3", mp3});
        }
        argv.insert(argv.end(), options.begin(), options.end());
        if (process.start(argv, fs::temp_directory_path(), {}, {})) port = process.firstLine();
    }
    std::string url() const { return "http://127.0.0.1:" + port + "/stream"; }

    Child process;
    std::string port;
};

class NowPlayingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kStation)) << kStation << " is not built";
        ASSERT_TRUE(fs::exists(kStreamTool)) << kStreamTool << " is not built";
        // No sound device here: the players write to the null output.
        playerHome.write("config", "ao=null\nvo=null\n");
        ASSERT_FALSE(stream.port.empty()) << "the ICY test stream did not start";
    }
    void TearDown() override {
        station.stop(SIGKILL);
        test::killPlayersIn(stationDir.path());
        EXPECT_EQ(stream.process.stop(SIGTERM), 0) << "the ICY test stream did not end cleanly";
    }
    bool startStation() {
        return station.start(
            {kStation.string()}, stationDir.path(),
            {{"QT_QPA_PLATFORM", "offscreen"}, {"MPLAYER_HOME", playerHome.path().string()}},
            scratch.path() / "station.out");
    }
    bool plays(const char* log) {
        return stationDir.read(log).find("Starting playback...") != std::string::npos;
    }
    // True once the API names `source` ("Source: 9") as on air. A switch ends
    // about 3 s after its player plays; a loaded CI machine can take longer.
    bool reportsOnAir(const char* source) {
        return waitFor(15s, [&] { return askApi("/api/getcurrent.php?id=k").starts_with(source); });
    }

    // Asks the station's API once; the answer's body, empty when none came in time.
    std::string askApi(const std::string& path, long limitSeconds = 2) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval limit{limitSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(apiPort));
        std::string answer;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            char buffer[2048];
            for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, static_cast<std::size_t>(got));
        }
        close(fd);
        const auto body = answer.find("\r\n\r\n");
        return body == std::string::npos ? "" : answer.substr(body + 4);
    }
    // The API's lines of kestrelfield.ini, on a port of its own.
    std::string apiKeys() const {
        return "APIallowed=1\r\nAPIKey=k\r\nAPIPort=" + std::to_string(apiPort) + "\r\n";
    }

    test::TempDir playerHome;
    test::TempDir stationDir;
    test::TempDir scratch;
    TestStream stream;
    Child station;
    const int apiPort = test::freeLoopbackPort();
};

TEST_F(NowPlayingEndToEnd, RealPlayerShowsTheStreamDetailsAndTitles) {
    Child player;
    const fs::path log = scratch.path() / "mplayer.log";
    ASSERT_TRUE(player.start({"/usr/bin/mplayer", "-noconsolecontrols", "-quiet", stream.url()},
                             scratch.path(), {{"MPLAYER_HOME", playerHome.path().string()}}, log));
    PlayerLogReader reader;
    const bool bothTitles = waitFor(20s, [&] {
        reader.update(log);
        return reader.fields().title == kSecondTitle;
    });
    player.stop(SIGKILL);
    EXPECT_TRUE(bothTitles) << scratch.read("mplayer.log");
    const auto fields = reader.fields();
    EXPECT_EQ(fields.name, "E2E Stream");
    EXPECT_EQ(fields.genre, "Chimes");
    EXPECT_EQ(fields.website, "http://127.0.0.1/e2e");
    EXPECT_EQ(fields.publicFlag, "yes");
    EXPECT_EQ(fields.bitrate, "128kbit/s");
    ASSERT_TRUE(fields.codec.has_value());
    EXPECT_NE(fields.codec->find("mpg123"), std::string::npos);
    EXPECT_NE(scratch.read("mplayer.log").find("ICY Info: StreamTitle='" + kFirstTitle + "';"),
              std::string::npos);
}

TEST_F(NowPlayingEndToEnd, StationWritesTheTitleAndRestartsAKilledPlayer) {
    stationDir.write("kestrelfield.ini",
                     "[Kestrelfield]\r\nDefaultStrapline=E2E FM\r\n"
                     "ExtraMetaNowPlaying=Now playing:\r\nDoNotPrefixWhenContains=\r\n"
                     "ManagementUpdate=0\r\nCheckForChanges=0\r\nAPIallowed=0\r\n"
                     "AIRenable=0\r\nMetaWeather=0\r\nCheckSource=0\r\n");
    // No schedule: the station plays source 9 from the start.
    stationDir.write("sourcelist.ini", "9n:ICY Test\r\n9u:" + stream.url() + "\r\n");
    ASSERT_TRUE(startStation());

    const auto titled = [&] {
        const std::string text = stationDir.read("metadata.txt");
        return text == kFirstTitle + "\r\n" || text == kSecondTitle + "\r\n";
    };
    ASSERT_TRUE(waitFor(20s, titled)) << "metadata.txt: " << stationDir.read("metadata.txt")
                                      << "\nmplayer1.log: " << stationDir.read("mplayer1.log")
                                      << "\nstation: " << scratch.read("station.out");
    EXPECT_EQ(stationDir.read("metaextra.txt").rfind("Now playing: E2E Artist - ", 0), 0u);

    const auto players = test::playersIn(stationDir.path());
    ASSERT_FALSE(players.empty());
    for (const pid_t pid : players)
        kill(pid, SIGKILL);
    EXPECT_FALSE(stationDir.exists("error.log"));

    ASSERT_TRUE(waitFor(25s, [&] {
        return stationDir.read("error.log").find(" SOURCE:9\r\n") != std::string::npos;
    })) << "no RESTART line";
    const std::string errorLog = stationDir.read("error.log");
    EXPECT_EQ(errorLog.rfind("RESTART ", 0), 0u) << errorLog;
    EXPECT_EQ(errorLog.size(), std::string("RESTART 12-07-2026 08:00:00 SOURCE:9\r\n").size())
        << errorLog;

    EXPECT_TRUE(waitFor(10s, [&] { return !test::playersIn(stationDir.path()).empty(); }))
        << "no player runs again";
    // The restart plays in the other slot, whose log gets the stream's titles.
    EXPECT_TRUE(waitFor(20s, [&] {
        return stationDir.read("mplayer2.log").find("ICY Info: StreamTitle='E2E Artist - ") !=
               std::string::npos;
    })) << stationDir.read("mplayer2.log");
    EXPECT_TRUE(titled()) << stationDir.read("metadata.txt");
}

// The weather and TuneIn AIR services answer only after 8 s; meanwhile a
// scheduled event switches on time and every API request is answered at once.
TEST_F(NowPlayingEndToEnd, SlowServicesHoldUpNeitherTheScheduleNorTheApi) {
    test::LoopbackServer slow;
    slow.http.Get(".*", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(8s);
        response.set_content("{}", "application/json");
    });
    slow.start();
    const std::time_t due = std::time(nullptr) + 6;
    std::tm local{};
    localtime_r(&due, &local);
    char event[32];
    std::snprintf(event, sizeof event, "%d %02d%02d%02d 1\r\n", local.tm_wday + 1, local.tm_hour,
                  local.tm_min, local.tm_sec);
    stationDir.write("sourceevents.ini", event);
    stationDir.write("kestrelfield.ini", "[Kestrelfield]\r\n" + apiKeys() +
                                             "MetaWeather=1\r\n"
                                             "MetaLocation=Leeds\r\nAIRenable=1\r\nAIRid=s1\r\n");
    stationDir.write("sourcelist.ini", "9n:Nine\r\n9u:" + stream.url() +
                                           "\r\n1n:One\r\n1u:" + stream.url() + "?one\r\n");
    // The services' fixed hosts are reached through the slow server as a proxy;
    // libcurl follows all_proxy, MPlayer (which would follow http_proxy) does not.
    ASSERT_TRUE(station.start({kStation.string()}, stationDir.path(),
                              {{"QT_QPA_PLATFORM", "offscreen"},
                               {"MPLAYER_HOME", playerHome.path().string()},
                               {"all_proxy", slow.url()},
                               {"no_proxy", "127.0.0.1"}},
                              scratch.path() / "station.out"));

    // The executor looks once a second and the overlap lasts two seconds, so
    // the switch ends within about 3 s of the event's second; 5 s leaves room
    // for a loaded machine while the services still hold their answers.
    double slowest = 0;
    std::string current;
    bool switched = false;
    while (std::time(nullptr) < due + 5 && !switched) {
        const auto asked = std::chrono::steady_clock::now();
        current = askApi("/api/getcurrent.php?id=k");
        slowest = std::max(
            slowest,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
        switched = current.starts_with("Source: 1\r\n");
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_TRUE(switched) << "the event's switch has ended within 5 s of its time: " << current
                          << "\nstation: " << scratch.read("station.out");
    EXPECT_LT(slowest, 0.5) << "an API request waited";
    EXPECT_FALSE(slow.targets().empty()) << "the services were asked";
}

// The real MPlayer: a switch to a stream that answers only after 4 s keeps
// the old player until the new one has begun playback; one to a refused port
// leaves the old player playing and is tried again until the port opens.
TEST_F(NowPlayingEndToEnd, ASwitchKeepsTheOldPlayerUntilTheNewOnePlays) {
    TestStream late({"--first-byte-after", "4"});
    const std::string refusedPort = std::to_string(test::freeLoopbackPort());
    stationDir.write("kestrelfield.ini", "[Kestrelfield]\r\n" + apiKeys() + "SwitchTimeout=30\r\n");
    stationDir.write("sourcelist.ini",
                     "9n:Nine\r\n9u:" + stream.url() + "\r\n2n:Late\r\n2u:" + late.url() +
                         "\r\n3n:Refused\r\n3u:http://127.0.0.1:" + refusedPort + "/live\r\n");
    ASSERT_TRUE(startStation());
    ASSERT_TRUE(waitFor(20s, [&] { return plays("mplayer1.log"); }));
    ASSERT_TRUE(reportsOnAir("Source: 9"));

    const auto slot1 = test::playersIn(stationDir.path());
    const auto slot1Runs = [&] {
        return std::any_of(slot1.begin(), slot1.end(), test::stillRunning);
    };
    std::string answer;
    std::thread late2([&] { answer = askApi("/api/setcurrent.php?id=k2", 40); });
    bool endedFirst = false;
    const bool handedOver = waitFor(40s, [&] {
        const bool oldRuns = slot1Runs();  // before the log: the line may come meanwhile
        endedFirst = endedFirst || (!oldRuns && !plays("mplayer2.log"));
        return !oldRuns;
    });
    late2.join();
    EXPECT_TRUE(handedOver);
    EXPECT_FALSE(endedFirst) << "the old player ended before the new one played";
    EXPECT_EQ(answer, "Source: 2\r\nOK\r\n");

    const auto slot2 = test::playersIn(stationDir.path());
    EXPECT_EQ(askApi("/api/setcurrent.php?id=k3", 40), "Source: 2\r\nERROR\r\n");
    EXPECT_TRUE(std::all_of(slot2.begin(), slot2.end(), test::stillRunning));
    const std::string errorLog = stationDir.read("error.log");
    EXPECT_EQ(errorLog.rfind("SWITCH FAILED ", 0), 0u) << errorLog;
    EXPECT_TRUE(errorLog.ends_with(" SOURCE:3\r\n")) << errorLog;
    EXPECT_EQ(errorLog.find('\n'), errorLog.size() - 1) << errorLog;

    TestStream opened({"--port", refusedPort});
    EXPECT_TRUE(waitFor(20s, [&] { return plays("mplayer1.log"); }))
        << stationDir.read("error.log");
    EXPECT_TRUE(reportsOnAir("Source: 3"));
    EXPECT_TRUE(
        waitFor(15s, [&] { return !std::any_of(slot2.begin(), slot2.end(), test::stillRunning); }));
    EXPECT_EQ(opened.process.stop(SIGTERM), 0);
    EXPECT_EQ(late.process.stop(SIGTERM), 0);
}

// The stream stops sending but keeps its connection (SIGUSR1): once the
// player's cache has run dry and it has taken in nothing for 2 s, the station
// logs one STALL line and plays the source again from the other slot.
TEST_F(NowPlayingEndToEnd, AStalledStreamIsRestartedWithinSeconds) {
    stationDir.write("kestrelfield.ini", "[Kestrelfield]\r\n" + apiKeys());
    stationDir.write("sourcelist.ini", "9n:Nine\r\n9u:" + stream.url() + "\r\n");
    ASSERT_TRUE(startStation());
    ASSERT_TRUE(waitFor(20s, [&] { return plays("mplayer1.log"); }));
    ASSERT_TRUE(reportsOnAir("Source: 9"));
    const auto stalled = test::playersIn(stationDir.path());
    ASSERT_FALSE(stalled.empty());
    ASSERT_FALSE(plays("mplayer2.log"));

    ASSERT_EQ(kill(stream.process.pid(), SIGUSR1), 0);
    const auto playsAgain = [&] {
        return plays("mplayer2.log") &&
               std::none_of(stalled.begin(), stalled.end(), test::stillRunning);
    };
    EXPECT_TRUE(waitFor(15s, playsAgain)) << "mplayer1.log: " << stationDir.read("mplayer1.log")
                                          << "\nmplayer2.log: " << stationDir.read("mplayer2.log");
    const std::string errorLog = stationDir.read("error.log");
    EXPECT_EQ(errorLog.rfind("STALL ", 0), 0u) << errorLog;
    EXPECT_TRUE(errorLog.ends_with(" SOURCE:9\r\n")) << errorLog;
    EXPECT_EQ(errorLog.find('\n'), errorLog.size() - 1) << errorLog;
}

// The health test of the source on air fails (SIGHUP to the stream tool)
// while its stream plays on: source 0 takes over and, once the test answers
// again, hands back; each time the old player ends only after the new one
// has begun playback.
TEST_F(NowPlayingEndToEnd, FailoverAndRecoveryLeaveNoGap) {
    TestStream backup;
    stationDir.write("kestrelfield.ini", "[Kestrelfield]\r\n" + apiKeys() + "CheckSource=1\r\n");
    stationDir.write("sourcelist.ini", "9n:Nine\r\n9u:" + stream.url() +
                                           "\r\n0n:Backup\r\n0u:" + backup.url() + "\r\n");
    ASSERT_TRUE(startStation());
    ASSERT_TRUE(waitFor(20s, [&] { return plays("mplayer1.log"); }));
    ASSERT_TRUE(reportsOnAir("Source: 9"));

    // Hands over from the players running now to `newLog`'s; false when they
    // ended before the new one played, or nothing happened within 50 s.
    const auto handsOverWithoutAGap = [&](const char* newLog, const char* expected) {
        const auto old = test::playersIn(stationDir.path());
        bool endedFirst = false;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + 50s;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            ended = std::none_of(old.begin(), old.end(), test::stillRunning);
            endedFirst = endedFirst || (ended && !plays(newLog));
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_TRUE(ended) << expected;
        EXPECT_FALSE(endedFirst) << expected << ": the old player ended before the new one played";
        EXPECT_TRUE(reportsOnAir(expected)) << expected;
    };
    ASSERT_EQ(kill(stream.process.pid(), SIGHUP), 0);
    handsOverWithoutAGap("mplayer2.log", "Source: 0");
    ASSERT_EQ(kill(stream.process.pid(), SIGHUP), 0);
    handsOverWithoutAGap("mplayer1.log", "Source: 9");
    EXPECT_FALSE(stationDir.exists("error.log")) << stationDir.read("error.log");
    EXPECT_EQ(backup.process.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace kestrel
