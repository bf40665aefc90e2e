#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include "platform/event_loop.h"

class QSocketNotifier;
class QTimer;

namespace kestrel {

/// The station's event loop on Qt's: one-shot QTimers and socket notifiers on
/// the GUI thread. `afterEach` runs after every callback (the window
/// re-renders there, so a switch that ends between ticks shows at once).
class QtEventLoop final : public QObject, public EventLoop {
    Q_OBJECT
public:
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    void setAfterEach(std::function<void()> afterEach) { m_afterEach = std::move(afterEach); }

    CallId callAfter(double seconds, Callback callback) override;
    void cancelCall(CallId id) override;
    void watch(int fd, bool forReading, bool forWriting,
               std::function<void(bool readable, bool writable)> ready) override;
    void unwatch(int fd) override;

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> reading;
        std::unique_ptr<QSocketNotifier> writing;
        std::function<void(bool, bool)> ready;
    };
    void ran();

    CallId m_lastId = 0;
    std::map<CallId, QTimer*> m_calls;
    std::map<int, std::shared_ptr<Watch>> m_watches;
    std::function<void()> m_afterEach;
};

}  // namespace kestrel
