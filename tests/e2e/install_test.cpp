#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
    EXPECT_TRUE(
        fs::exists(prefix.path() / "share/doc/Kestrelfield/examples/station/kestrelfield.ini"));

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

}  // namespace
}  // namespace kestrel
