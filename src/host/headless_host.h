#pragma once

#include <memory>

#include "host/api_server.h"
#include "station/host_hooks.h"
#include "station/station.h"

namespace kestrel {

/// The station's host when nobody sees a window: the station's request for
/// the API window starts the API's listener alone, and the end of the
/// program ends the event loop. Becomes the station's host while it exists.
class HeadlessHost final : public HostHooks {
public:
    explicit HeadlessHost(Station& station);
    ~HeadlessHost() override;
    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;

    void endProgram() override;
    void showApiWindow() override;

    /// The API's listener; nullptr until the station has asked for it.
    const ApiServer* api() const { return m_api.get(); }

private:
    Station& m_station;
    HostHooks* m_previousHost;
    std::unique_ptr<ApiServer> m_api;
};

}  // namespace kestrel
