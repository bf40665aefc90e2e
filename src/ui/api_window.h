#pragma once

#include <QWidget>
#include <functional>

#include "controller/station.h"

namespace kestrel {

/// The "Kestrelfield API Server" window: listens on `port` (1011 on a
/// station), hands each connection's data to the core's request handling and
/// shows one status line per connection.
class ApiWindow : public QWidget {
    Q_OBJECT
public:
    ApiWindow(Station& station, quint16 port, QWidget* parent = nullptr);
    ~ApiWindow() override;

    /// Runs after every socket event has been handled (the main window re-renders).
    void setAfterEvent(std::function<void()> afterEvent);
};

}  // namespace kestrel
