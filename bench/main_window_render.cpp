// Cost of the main window's render, which runs after every timer tick (more
// than ten times a second): with nothing changed, with the clock changed (a
// typical tick), and with every label changed; the last two also with the
// repaint that follows. Headless, on the simulated station.
// Usage: bench_main_window_render [renders=20000]

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "support/sim_host.h"
#include "ui/main_window.h"

namespace {

double microsecondsPerRender(int renders, const std::function<void(int)>& change,
                             kestrel::MainWindow& window, bool repaint = false) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < renders; ++i) {
        change(i);
        window.render();
        if (repaint) QCoreApplication::processEvents();
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / renders;
}

}  // namespace

int main(int argc, char** argv) {
    const int renders = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    kestrel::test::SimHost sim;
    kestrel::MainWindow window(*sim.controller);
    sim.start();
    window.show();
    window.render();
    auto& display = sim.display();

    const double idle = microsecondsPerRender(
        renders, [](int) {}, window);
    const double clock = microsecondsPerRender(
        renders, [&](int i) { display.lblClock.caption = "08:00:" + std::to_string(i % 60); },
        window);
    const auto tick = [&](int i) { display.lblClock.caption = "09:00:" + std::to_string(i % 60); };
    const double clockPainted =
        microsecondsPerRender(std::max(1, renders / 10), tick, window, true);
    const int fullRenders = std::max(1, renders / 20);
    const auto everything = [&](int i) {
        const std::string text = "Artist " + std::to_string(i) + " - Title";
        for (auto* label :
             {&display.lblClock, &display.lblDate, &display.lblRXmetadata, &display.lblStreamName,
              &display.lblMetadataOutput, &display.lblMetadataExtra, &display.lblAIRartist,
              &display.lblAIRtitle, &display.lblFailCheckTime, &display.lblStudio,
              &display.lblCurrentSource})
            label->caption = text;
        display.lblStatus.background = i % 2 ? kestrel::kGreen : kestrel::kRed;
    };
    const double all = microsecondsPerRender(fullRenders, everything, window);
    const double allPainted =
        microsecondsPerRender(std::max(1, fullRenders / 10), everything, window, true);

    // Renders a second: 10 (100 ms timer) + 4 (250 ms) + 2 (1 s timers), and a few slower ones.
    const double ticksPerSecond = 16;
    std::printf("BENCH render, nothing changed\t%.2f us\tunder 20 us\n", idle);
    std::printf("BENCH render, clock changed\t%.2f us\tunder 200 us\n", clock);
    std::printf("BENCH render and repaint, clock changed\t%.1f us\t-\n", clockPainted);
    std::printf("BENCH render, eleven labels and a colour changed\t%.1f us\t-\n", all);
    std::printf("BENCH render and repaint, eleven labels and a colour changed\t%.1f us\t-\n",
                allPainted);
    // A second of a playing station: the clock repaints once, the other renders change nothing.
    const double share = ((ticksPerSecond - 1) * idle + clockPainted) / 1e6 * 100;
    std::printf(
        "BENCH window share of one core (%.0f renders/s, one clock repaint)\t%.3f %%\t"
        "under 1 %%\n",
        ticksPerSecond, share);
    return 0;
}
