// How long one process check holds up the station's thread (two run every 15 s).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/proc_process_table.h"

int main() {
    int processes = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos) ++processes;
    }
    kestrel::ProcProcessTable table;
    // The fastest batch shows the cost itself, the median what a busy machine adds.
    constexpr int batches = 15, perBatch = 20;
    std::vector<double> msPerCheck;
    for (int b = 0; b < batches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i)
            table.check(i % 2 ? "mplayer1.exe" : "mplayer2.exe");
        const auto elapsed = std::chrono::steady_clock::now() - start;
        msPerCheck.push_back(std::chrono::duration<double, std::milli>(elapsed).count() / perBatch);
    }
    std::sort(msPerCheck.begin(), msPerCheck.end());
    std::printf("processes in /proc: %d\n", processes);
    std::printf("process check: fastest %.3f ms, median %.3f ms (%d x %d checks)\n",
                msPerCheck.front(), msPerCheck[batches / 2], batches, perBatch);
    std::printf("BENCH process check (one slot, %d processes)\t%.3f ms median\t-\n", processes,
                msPerCheck[batches / 2]);
    return 0;
}
