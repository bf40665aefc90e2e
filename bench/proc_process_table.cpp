// How long the player checks hold up the station's thread: a process check
// (two every second, and two every 15 s for the watchdog), and the intake
// count of a player with a TCP connection open (one every second outside a
// switch; the kernel's socket statistics walk its whole connection table).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/proc_process_table.h"
#include "support/child_process.h"

namespace {

// The median of 15 batches of 20 calls, per call in milliseconds: the median
// shows what a busy machine adds.
double medianMs(const std::function<void(int)>& call) {
    constexpr int batches = 15, perBatch = 20;
    std::vector<double> msPerCall;
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i)
            call(i);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        msPerCall.push_back(std::chrono::duration<double, std::milli>(elapsed).count() / perBatch);
    }
    std::sort(msPerCall.begin(), msPerCall.end());
    return msPerCall[batches / 2];
}

}  // namespace

int main() {
    int processes = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos) ++processes;
    }
    // Each call looks afresh, as after a command; the player look shares one walk.
    // This process, unmarked, belongs to the station of its working directory.
    kestrel::ProcProcessTable table(std::filesystem::current_path());
    const double check = medianMs([&](int i) {
        table.forget();
        table.check(i % 2 ? "mplayer1.exe" : "mplayer2.exe");
    });
    const kestrel::test::LoopbackConnection connection;
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    const double intake = medianMs([&](int) {
        table.forget();
        table.bytesRead(self);
    });
    // Between commands, once a second: the walk passes over the processes it
    // knows have no player name.
    kestrel::ProcProcessTable steady(std::filesystem::current_path());
    std::vector<double> looks;
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));  // past one walk's life
        const auto from = std::chrono::steady_clock::now();
        for (const char* slot : {"mplayer1.exe", "mplayer2.exe"}) {
            steady.bytesRead(slot);
            steady.check(slot);
        }
        steady.bytesRead(self);
        looks.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from)
                .count());
    }
    std::sort(looks.begin(), looks.end());
    const double look = looks[looks.size() / 2];
    std::printf("processes in /proc: %d\n", processes);
    std::printf("BENCH process check (one slot, %d processes)\t%.3f ms median\t-\n", processes,
                check);
    std::printf("BENCH intake count (one slot with a TCP connection)\t%.3f ms median\t-\n", intake);
    // Outside a switch only one slot runs: this process stands in for its player.
    std::printf("BENCH player look every second (2 checks, 2 intake counts)\t%.3f ms median\t-\n",
                look);
    return 0;
}
