#include <QApplication>
#include <filesystem>

#include "controller/station_controller.h"
#include "platform/curl_fetcher.h"
#include "platform/posix_command_runner.h"
#include "platform/proc_process_table.h"
#include "platform/system_clock.h"
#include "ui/qt_timer_host.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto workdir = std::filesystem::current_path();
    kestrel::SystemClock clock;
    kestrel::PosixCommandRunner runner(workdir);
    kestrel::ProcProcessTable processes;
    kestrel::CurlFetcher inetAIR, inetWeather, inetTestURL, inet1;
    kestrel::StationController controller(kestrel::Platform{
        clock, runner, processes, inetAIR, inetWeather, inetTestURL, inet1, workdir});
    kestrel::QtTimerHost timers(controller.station().timers, nullptr);
    controller.startUp();
    return app.exec();
}
