#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <optional>
#include <vector>

#include "station/audio_levels.h"

namespace kestrel {

/// One player slot's meter: a bar per channel from -60 to 0 dBFS showing the
/// RMS, a line at the peak held for a second and a half, "no data" while the
/// slot hands over nothing, and a frame in green while the slot is on air.
class LevelMeter : public QWidget {
    Q_OBJECT
public:
    explicit LevelMeter(QString title, QWidget* parent = nullptr);

    /// Shows `levels` (nullopt: no data) and `note` beside the title (the
    /// source's loudness and gain); repaints only when something changed.
    void showLevels(const std::optional<ChannelLevels>& levels, bool onAir,
                    const QString& note = {});

    QSize sizeHint() const override { return {150, 48}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
    QString m_note;
    std::optional<ChannelLevels> m_levels;
    bool m_onAir = false;
    std::vector<double> m_held;  ///< per channel, dBFS
    std::vector<qint64> m_heldAt;
    QElapsedTimer m_clock;
};

}  // namespace kestrel
