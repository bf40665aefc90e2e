#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>

#include "host/qt_event_loop.h"
#include "platform/curl_fetcher.h"

namespace kestrel::test {

/// Real transfers for tests: Qt's event loop (a QCoreApplication is made once
/// for the test program) driving libcurl's multi interface, as the station does.
class LiveTransfers {
public:
    LiveTransfers() { ensureApplication(); }

    /// Runs the event loop until `condition` holds or `limit` has passed.
    template <typename Condition>
    bool pumpUntil(Condition condition,
                   std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        return true;
    }

    /// Starts a request and runs the event loop until its answer has come.
    FetchResult fetch(UrlFetcher& fetcher, const std::string& url, BodyForm form) {
        std::optional<FetchResult> result;
        fetcher.start(url, form, [&result](FetchResult answer) { result = std::move(answer); });
        pumpUntil([&] { return result.has_value(); }, std::chrono::minutes(2));
        return result ? *result : FetchResult{false, 0, {}, "no answer"};
    }

    QtEventLoop loop;
    CurlMulti multi{loop};

private:
    static void ensureApplication() {
        static int argc = 1;
        static char name[] = "kestrel_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);  // lives to the end
    }
};

}  // namespace kestrel::test
