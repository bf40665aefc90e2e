#include "monitoring/silence_watch.h"

namespace kestrel {
SilenceWatch::Change SilenceWatch::look(double nowSeconds, std::int16_t source,
                                        const std::optional<ChannelLevels>& levels,
                                        const SilenceSettings& settings) {
    const bool silent = source != -1 && levels && !hasSound(*levels, settings.levelDbfs);
    if (source != m_source || !silent) m_silentSince.reset();
    m_source = source;
    if (silent && !m_silentSince) m_silentSince = nowSeconds;

    const bool wasDeclared = m_declared.has_value();
    // Sound on the declared source ends the silence; no data leaves it declared.
    if (m_declared && (source != *m_declared || (levels && !silent))) m_declared.reset();
    if (!m_declared && settings.seconds > 0 && m_silentSince &&
        nowSeconds - *m_silentSince >= settings.seconds) {
        m_declared = source;
        // One silence, one declaration: the count restarts only with sound.
        if (!wasDeclared) return Change::Declared;
    }
    if (wasDeclared && !m_declared) return Change::Ended;
    return Change::None;
}

}  // namespace kestrel
