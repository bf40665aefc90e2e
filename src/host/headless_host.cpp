#include "host/headless_host.h"

#include <QCoreApplication>

namespace kestrel {

HeadlessHost::HeadlessHost(Station& station) : m_station(station), m_previousHost(station.host) {
    m_station.host = this;
}

HeadlessHost::~HeadlessHost() {
    m_station.host = m_previousHost;
}

void HeadlessHost::endProgram() {
    QCoreApplication::exit(0);
}

void HeadlessHost::showApiWindow() {
    if (!m_api) m_api = std::make_unique<ApiServer>(m_station, configuredApiPort(m_station));
}

}  // namespace kestrel
