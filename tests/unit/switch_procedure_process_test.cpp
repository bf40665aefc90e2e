#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/posix_command_runner.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"
#include "playback/orders.h"
#include "playback/reconciler.h"
#include "support/fake_fetcher.h"
#include "support/live_transfers.h"
#include "support/process_cleanup.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace kestrel {
namespace {

using test::waitUntil;

using namespace std::chrono_literals;

// Stands in for MPlayer: says what it plays, that it plays, and waits on a
// FIFO nobody writes to.
constexpr const char* kFakePlayer =
    "#!/bin/bash\n"
    "echo \"Playing $1.\"\n"
    "echo 'Starting playback...'\n"
    "exec 3<>hold\n"
    "read -u 3 x\n";

/// Real processes, real two-second overlap; only the fetchers are fakes.
class SwitchWithRealPlayers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkfifo((dir.path() / "hold").c_str(), 0600), 0);
        for (const char* slot : {"mplayer1", "mplayer2"}) {
            dir.write(slot, kFakePlayer);
            std::filesystem::permissions(dir.path() / slot, std::filesystem::perms::owner_all);
        }
        dir.write("sourcelist.ini",
                  "1n:One\r\n1u:http://127.0.0.1:1/one\r\n2n:Two\r\n2u:http://127.0.0.1:1/two\r\n");
    }
    void TearDown() override { test::killPlayersIn(dir.path()); }

    /// Pids of this station's players of one slot.
    std::vector<pid_t> slotPlayers(int slot) const {
        std::vector<pid_t> pids;
        for (const pid_t pid : test::playersIn(dir.path())) {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name == "mplayer" + std::to_string(slot)) pids.push_back(pid);
        }
        return pids;
    }
    void press(const std::string& selector) {
        station.display.comboSourceList.text = selector;
        const auto running = cmdForceSwitch_Click(station);
        live.pumpUntil([&] { return running.done(); });
    }

    test::TempDir dir;
    SystemClock clock;
    PosixCommandRunner runner{dir.path()};
    ProcProcessTable processes{dir.path()};
    test::FakeFetcher fetcher;
    test::LiveTransfers live;
    Station station{Platform{clock, runner, processes, live.loop, fetcher, fetcher, fetcher,
                             fetcher, fetcher, fetcher, dir.path()}};
    Reconciler reconciler{station};
};

TEST_F(SwitchWithRealPlayers, TwoSwitchesLeaveOnlyTheSecondSlotRunningAndDeleteTheFirstLog) {
    press("1");
    ASSERT_TRUE(waitUntil([&] { return slotPlayers(1).size() == 1; }));
    ASSERT_TRUE(waitUntil([&] {
        return dir.read("mplayer1.log") ==
               "Playing http://127.0.0.1:1/one.\nStarting playback...\n";
    }));
    press("2");
    EXPECT_TRUE(waitUntil([&] { return slotPlayers(1).empty(); }));
    EXPECT_EQ(slotPlayers(2).size(), 1u);
    EXPECT_FALSE(dir.exists("mplayer1.log"));
    EXPECT_TRUE(waitUntil([&] {
        return dir.read("mplayer2.log") ==
               "Playing http://127.0.0.1:1/two.\nStarting playback...\n";
    }));
    EXPECT_EQ(station.state.CurrentMplayer, 2);
    EXPECT_EQ(station.state.CurrentSource, 2);
}

}  // namespace
}  // namespace kestrel
