#include "ui/level_meter.h"

#include <QPainter>
#include <algorithm>

namespace kestrel {
namespace {

constexpr double kFloorDbfs = -60;
constexpr qint64 kHoldMs = 1500;

// Position of `dbfs` on a bar of `width` pixels.
int along(double dbfs, int width) {
    const double clamped = std::clamp(dbfs, kFloorDbfs, 0.0);
    return static_cast<int>((clamped - kFloorDbfs) / -kFloorDbfs * width);
}

}  // namespace

LevelMeter::LevelMeter(QString title, QWidget* parent)
    : QWidget(parent), m_title(std::move(title)) {
    m_clock.start();
    setMinimumSize(90, 44);
}

void LevelMeter::showLevels(const std::optional<ChannelLevels>& levels, bool onAir,
                            const QString& note) {
    const qint64 now = m_clock.elapsed();
    bool changed = onAir != m_onAir || levels.has_value() != m_levels.has_value() || note != m_note;
    m_note = note;
    if (levels) {
        const auto& peaks = levels->peakDbfs;
        if (m_held.size() != peaks.size()) {
            m_held.assign(peaks.size(), kFloorDbfs);
            m_heldAt.assign(peaks.size(), now);
        }
        for (std::size_t c = 0; c < peaks.size(); ++c) {
            if (peaks[c] >= m_held[c] || now - m_heldAt[c] > kHoldMs) {
                changed = changed || peaks[c] != m_held[c];
                m_held[c] = peaks[c];
                m_heldAt[c] = now;
            }
        }
        changed = changed || !m_levels || levels->rmsDbfs != m_levels->rmsDbfs;
    } else {
        m_held.clear();
        m_heldAt.clear();
    }
    m_levels = levels;
    m_onAir = onAir;
    if (changed) update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(area, Qt::black);
    painter.setPen(QPen(m_onAir ? QColor(0, 255, 0) : QColor(128, 128, 128), 2));
    painter.drawRect(area);
    painter.setPen(Qt::white);
    const QRect titleBox(area.left() + 6, area.top() + 2, area.width() - 12, 16);
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter,
                     m_onAir ? m_title + QStringLiteral(" ON AIR") : m_title);
    painter.drawText(titleBox, Qt::AlignRight | Qt::AlignVCenter, m_note);
    const QRect bars(area.left() + 6, area.top() + 20, area.width() - 12, area.height() - 24);
    if (!m_levels || m_levels->rmsDbfs.empty()) {
        painter.drawText(bars, Qt::AlignCenter, QStringLiteral("no data"));
        return;
    }
    const int channels = static_cast<int>(m_levels->rmsDbfs.size());
    const int height = std::max(2, (bars.height() - (channels - 1) * 2) / channels);
    for (int c = 0; c < channels; ++c) {
        const QRect bar(bars.left(), bars.top() + c * (height + 2), bars.width(), height);
        painter.fillRect(bar, QColor(40, 40, 40));
        const double rms = m_levels->rmsDbfs[c];
        const QColor colour = rms > -6    ? QColor(255, 0, 0)
                              : rms > -20 ? QColor(255, 200, 0)
                                          : QColor(0, 255, 0);
        painter.fillRect(QRect(bar.left(), bar.top(), along(rms, bar.width()), height), colour);
        const int peak = bar.left() + along(m_held[c], bar.width());
        painter.fillRect(QRect(std::min(peak, bar.right() - 1), bar.top(), 2, height), Qt::white);
    }
}

}  // namespace kestrel
