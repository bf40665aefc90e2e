#pragma once

#include <string>

#include "controller/station_controller.h"
#include "host/api_server.h"
#include "support/fake_world.h"
#include "support/qt_loop.h"

namespace kestrel::test {

/// A station on the fake world behind its real API listener (no window), on a
/// free port of all addresses; it answers while the test pumps the Qt event loop.
struct ApiStation : FakeWorld {
    explicit ApiStation(const std::string& key) {
        controller.station().journal.setOutput(&journal);
        controller.station().state.APIkey = key;
    }

    Station& station() { return controller.station(); }

    bool m_application = (ensureApplication(), true);  // before any Qt object
    StationController controller{platform()};
    ApiServer server{controller.station(), 0};
};

}  // namespace kestrel::test
