#include "playback/player/waveformview.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kalvero::player {

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("waveform"));
    // It takes the focus so that Space and the arrows reach the window rather
    // than a button.
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(64);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Waveform"));
    setToolTip(QStringLiteral("Click or drag to play from there"));
}

QSize WaveformView::sizeHint() const { return {480, 96}; }

void WaveformView::reset(int columns) {
    peaks_ = QVector<Peak>(std::max(0, columns));
    filled_ = 0;
    update();
}

void WaveformView::addPeaks(int first, const QVector<Peak>& peaks) {
    if (first < 0) return;
    const int n =
        std::min<int>(static_cast<int>(peaks.size()), static_cast<int>(peaks_.size()) - first);
    for (int i = 0; i < n; ++i) peaks_[first + i] = peaks[i];
    filled_ = std::max(filled_, first + std::max(0, n));
    update();
}

void WaveformView::setPosition(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == position_) return;
    position_ = fraction;
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    const double middle = area.height() / 2.0;
    const double half = std::max(1.0, middle - 2);
    const int width = area.width();
    const int playheadX = static_cast<int>(std::lround(position_ * (width - 1)));

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(QPointF(0, middle), QPointF(width, middle));

    const QColor played = palette().color(QPalette::Highlight);
    const QColor ahead = palette().color(QPalette::Text);
    const int columns = static_cast<int>(peaks_.size());
    if (columns > 0 && filled_ > 0) {
        // Each pixel shows the widest peak of the columns that fall on it.
        for (int x = 0; x < width; ++x) {
            const int from = static_cast<int>(static_cast<qint64>(x) * columns / width);
            const int to =
                std::max(from + 1, static_cast<int>(static_cast<qint64>(x + 1) * columns / width));
            if (from >= filled_) break;
            float low = 0;
            float high = 0;
            for (int c = from; c < std::min(to, filled_); ++c) {
                low = std::min(low, peaks_[c].low);
                high = std::max(high, peaks_[c].high);
            }
            painter.setPen(x <= playheadX ? played : ahead);
            const double top = middle - std::clamp(high, -1.0f, 1.0f) * half;
            const double bottom = middle - std::clamp(low, -1.0f, 1.0f) * half;
            painter.drawLine(QPointF(x + 0.5, top), QPointF(x + 0.5, std::max(bottom, top + 1)));
        }
    }

    painter.setPen(QPen(palette().color(QPalette::Highlight).darker(150), 2));
    painter.drawLine(QPoint(playheadX, 0), QPoint(playheadX, area.height()));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    }
}

void WaveformView::seekToPointer(double x) {
    if (!seekable_ || width() <= 1) return;
    const double fraction = std::clamp(x / (width() - 1), 0.0, 1.0);
    setPosition(fraction);
    emit seekRequested(fraction);
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    seekToPointer(event->position().x());
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    seekToPointer(event->position().x());
}

}  // namespace kalvero::player
