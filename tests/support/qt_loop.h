#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace kestrel::test {

/// The one QApplication of a test program, headless, created on first use.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "kestrel_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);  // lives for the whole test program
    }
}

/// Runs the event loop until `done` holds or the time is up.
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/// Runs the event loop while another thread works towards `future`, then its value.
template <typename T>
T pumpFor(std::future<T>& future, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    EXPECT_TRUE(pumpUntil(
        [&] { return future.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
        limit));
    return future.get();
}

}  // namespace kestrel::test
