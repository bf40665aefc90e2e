#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/process_cleanup.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Starts `program` in `workdir` headless; returns its pid.
pid_t startHeadless(const fs::path& program, const fs::path& workdir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workdir.c_str()) != 0) _exit(127);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

struct Finished {
    int status;
    std::string output;  // stdout and stderr
};

// Runs `command` through the shell to its end.
Finished runToEnd(const std::string& command) {
    Finished run{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool exitedWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(Install, InstalledProgramStartsHeadlessAndKeepsRunning) {
    test::TempDir prefix;
    const std::string install = "cmake --install \"" KESTREL_BINARY_DIR "\" --prefix \"" +
                                prefix.path().string() + "\" >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    const fs::path program = prefix.path() / "bin" / "kestrelfield";
    ASSERT_TRUE(fs::exists(program));
    EXPECT_TRUE(fs::exists(prefix.path() / "lib/systemd/system/kestrelfield.service"));
    EXPECT_TRUE(fs::exists(prefix.path() / "lib/sysusers.d/kestrelfield.conf"));
    const fs::path example = prefix.path() / "share/kestrelfield/example-station";
    EXPECT_TRUE(fs::exists(example / "kestrelfield.ini"));
    const Finished check = runToEnd(program.string() + " --check " + example.string());
    EXPECT_EQ(check.status, 0) << check.output;
    const fs::path manPage = prefix.path() / "share/man/man1/kestrelfield.1.gz";
    const Finished man = runToEnd("LC_ALL=C MANWIDTH=80 man -l " + manPage.string());
    EXPECT_EQ(man.status, 0);
    EXPECT_NE(man.output.find("--check"), std::string::npos) << man.output;

    test::TempDir station;
    for (const char* stale : {"mplayer.log", "metadata.txt", "metaextra.txt"}) {
        station.write(stale, "stale");
    }
    const pid_t pid = startHeadless(program, station.path());
    ASSERT_GT(pid, 0);
    const bool exited = exitedWithin(pid, std::chrono::seconds(3));
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    test::killPlayersIn(station.path());
    EXPECT_FALSE(exited) << "the installed station ended by itself";
    EXPECT_FALSE(station.exists("mplayer.log"));
    EXPECT_FALSE(station.exists("metadata.txt") && station.read("metadata.txt") == "stale");
}

TEST(Install, OptionsAnswerAndEndWithoutStartingTheStation) {
    const struct {
        std::string arguments;
        int status;
        std::string outputStart;
    } cases[] = {
        {"--version", 0, "kestrelfield " KESTREL_VERSION "\n"},
        {"--help", 0, "usage: kestrelfield [--check [DIR] | --version | --help]\n"},
        {"--check " KESTREL_SOURCE_DIR "/examples/station", 0, "no problems found in "},
        {"--check /nonexistent", 2, "kestrelfield: cannot read \"/nonexistent\""},
        {"--check a b", 2, "usage: "},
        {"--verbose", 2, "usage: "},
        {"-", 2, "usage: "},
    };
    test::TempDir station;  // the working directory: an absent station
    for (const auto& c : cases) {
        const Finished run =
            runToEnd("cd " + station.path().string() + " && QT_QPA_PLATFORM=offscreen " +
                     KESTREL_BINARY_DIR "/kestrelfield " + c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_TRUE(run.output.starts_with(c.outputStart)) << c.arguments << ": " << run.output;
    }
    const Finished here = runToEnd("cd " + station.path().string() +
                                   " && " KESTREL_BINARY_DIR "/kestrelfield --check");
    EXPECT_EQ(here.status, 1);
    EXPECT_NE(here.output.find("kestrelfield.ini: missing: "), std::string::npos) << here.output;
    EXPECT_FALSE(station.exists("error.log"));
}

}  // namespace
}  // namespace kestrel
