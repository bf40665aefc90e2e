#include <QApplication>
#include <QStyleFactory>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/arguments.h"
#include "controller/station_controller.h"
#include "host/headless_host.h"
#include "host/qt_event_loop.h"
#include "host/qt_timer_host.h"
#include "host/service_notifications.h"
#include "platform/curl_fetcher.h"
#include "platform/ebur128_loudness_meter.h"
#include "platform/posix_command_runner.h"
#include "platform/posix_level_tap.h"
#include "platform/posix_player_control.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"
#include "platform/systemd_notifier.h"
#include "platform/timed_fetcher.h"
#include "ui/main_window.h"

namespace {

// Time-out of every URL fetch, in seconds.
constexpr long kFetchTimeoutSeconds = 60;

// A fetcher instance whose requests are measured under its name for the metrics.
struct MeasuredFetcher {
    MeasuredFetcher(kestrel::CurlMulti& transfers, const kestrel::Clock& clock,
                    kestrel::FetchMetrics& metrics, const char* name)
        : curl(transfers, kFetchTimeoutSeconds), timed(curl, clock, metrics.byFetcher[name]) {}
    kestrel::CurlFetcher curl;
    kestrel::TimedFetcher timed;
};

// Developer aid for the documentation (scripts/screenshot), not a station
// setting: with KESTREL_SCREENSHOT naming a PNG file, the window is grabbed
// there after KESTREL_SCREENSHOT_AFTER seconds (default 3) and the program ends.
void armScreenshot(kestrel::MainWindow& window) {
    const QString path = qEnvironmentVariable("KESTREL_SCREENSHOT");
    if (path.isEmpty()) return;
    bool valid = false;
    double after = qEnvironmentVariable("KESTREL_SCREENSHOT_AFTER").toDouble(&valid);
    if (!valid || after < 0 || after > 3600) after = 3;
    QTimer::singleShot(static_cast<int>(after * 1000), &window, [&window, path] {
        const bool saved = window.grab().save(path, "PNG");
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

// Nobody can see a window on the offscreen (or minimal) platform, so the
// station then runs without any: no widgets to lay out and render, and no
// window-system lines in the journal. A screenshot still needs the window.
bool headless() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return (platform == "offscreen" || platform == "minimal") &&
           qEnvironmentVariableIsEmpty("KESTREL_SCREENSHOT");
}

int runWithWindow(kestrel::StationController& controller, kestrel::QtEventLoop& loop,
                  kestrel::ServiceNotifications& notifications) {
    kestrel::MainWindow window(controller);
    // A wait that ends between ticks (a switch's overlap, an answer) shows at once.
    loop.setAfterEach([&window] { window.render(); });
    kestrel::QtTimerHost timers(controller.station().timers, [&window] { window.render(); });
    controller.startUp();
    window.show();
    window.render();
    notifications.started();
    armScreenshot(window);
    return QCoreApplication::exec();
}

int runHeadless(kestrel::StationController& controller,
                kestrel::ServiceNotifications& notifications) {
    kestrel::HeadlessHost host(controller.station());
    kestrel::QtTimerHost timers(controller.station().timers, [] {});
    controller.startUp();
    notifications.started();
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto exitStatus = kestrel::handleArguments(argc, argv)) return *exitStatus;
    // The station takes no arguments; Qt sees only the program's name.
    int qtArgc = 1;
    const bool withoutWindows = headless();
    std::unique_ptr<QCoreApplication> app;
    if (withoutWindows) {
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    } else {
        app = std::make_unique<QApplication>(qtArgc, argv);
        // Fusion draws the palette's button colours on every desktop.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        // Only the operator's commands end the station, the API window's close button does not.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    std::error_code error;
    std::filesystem::path workdir = std::filesystem::current_path(error);
    if (error) workdir = ".";

    kestrel::SystemClock clock;
    kestrel::PosixLevelTap levels(kestrel::levelTapDirectory(workdir), workdir);
    kestrel::PosixPlayerControl control(levels);
    kestrel::Ebur128LoudnessMeter loudness;
    kestrel::QtEventLoop loop;
    kestrel::PosixCommandRunner runner(workdir, &loop);
    kestrel::ProcProcessTable processes(workdir);
    kestrel::CurlMulti transfers(loop);
    kestrel::FetchMetrics fetchMetrics;
    MeasuredFetcher air(transfers, clock, fetchMetrics, "air");
    MeasuredFetcher weather(transfers, clock, fetchMetrics, "weather");
    MeasuredFetcher sourceCheck(transfers, clock, fetchMetrics, "source_check");
    MeasuredFetcher management(transfers, clock, fetchMetrics, "management");
    MeasuredFetcher changePoll(transfers, clock, fetchMetrics, "change_poll");
    MeasuredFetcher statusReport(transfers, clock, fetchMetrics, "status_report");
    kestrel::StationController controller(
        kestrel::Platform{clock, runner, processes, loop, air.timed, weather.timed,
                          sourceCheck.timed, management.timed, changePoll.timed, statusReport.timed,
                          workdir, levels, control, loudness});
    controller.station().fetchMetrics = &fetchMetrics;
    controller.station().journal.setPriorityPrefix(kestrel::stderrGoesToJournal());
    kestrel::SystemdNotifier systemd;
    kestrel::ServiceNotifications notifications(controller.station(), systemd);

    return withoutWindows ? runHeadless(controller, notifications)
                          : runWithWindow(controller, loop, notifications);
}
