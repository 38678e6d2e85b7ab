#include "playback/player/waveformview.h"

#include <QApplication>
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
    setMinimumHeight(64 + kStripHeight);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Waveform"));
    setToolTip(QStringLiteral(
        "Click or drag to play from there; Shift+drag, or drag in the strip below, to select "
        "a region; pull the region out of the strip to drag it into another program.\n"
        "Keys: Space pause, Left/Right 5 s back/on, Home start, L loop, + and - volume, "
        "Esc stop."));
}

QSize WaveformView::sizeHint() const { return {480, 96 + kStripHeight}; }

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

void WaveformView::setSeekable(bool seekable) {
    seekable_ = seekable;
    if (!seekable) clearRegion();
}

void WaveformView::setRegion(double from, double to) {
    from = std::clamp(from, 0.0, 1.0);
    to = std::clamp(to, 0.0, 1.0);
    if (to <= from) from = to = 0;
    regionFrom_ = from;
    regionTo_ = to;
    update();
}

void WaveformView::clearRegion() { setRegion(0, 0); }

void WaveformView::setLooping(bool looping) {
    looping_ = looping;
    update();
}

double WaveformView::fractionAt(double x) const {
    return width() > 1 ? std::clamp(x / (width() - 1), 0.0, 1.0) : 0.0;
}

int WaveformView::xOf(double fraction) const {
    return static_cast<int>(std::lround(fraction * (width() - 1)));
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect waves = rect().adjusted(0, 0, 0, -kStripHeight);
    const QRect strip(0, waves.bottom() + 1, width(), kStripHeight);
    painter.fillRect(waves, palette().color(QPalette::Base));
    painter.fillRect(strip, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(strip.topLeft(), strip.topRight());
    if (!hasRegion() && seekable_) {
        // Says what the strip is for until it is used.
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter.setFont(small);
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(strip, Qt::AlignCenter, QStringLiteral("drag here to select a region"));
    }
    const double middle = waves.height() / 2.0;
    const double half = std::max(1.0, middle - 2);
    const int width = waves.width();
    const int playheadX = xOf(position_);

    const QColor highlight = palette().color(QPalette::Highlight);
    if (hasRegion()) {
        const QRect span(QPoint(xOf(regionFrom_), 0), QPoint(xOf(regionTo_), height()));
        QColor shade = highlight;
        shade.setAlpha(50);
        painter.fillRect(span.intersected(waves), shade);
        painter.fillRect(span.intersected(strip), highlight);
    }

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(QPointF(0, middle), QPointF(width, middle));

    const QColor played = highlight;
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

    if (looping_) {
        // A bar over what loops, closed by its two ends.
        const int from = hasRegion() ? xOf(regionFrom_) : 0;
        const int to = hasRegion() ? xOf(regionTo_) : width - 1;
        const QColor loop = palette().color(QPalette::Link);
        painter.fillRect(QRect(QPoint(from, 0), QPoint(to, 3)), loop);
        painter.setPen(QPen(loop, 1, Qt::DashLine));
        painter.drawLine(QPoint(from, 0), QPoint(from, waves.bottom()));
        painter.drawLine(QPoint(to, 0), QPoint(to, waves.bottom()));
    }

    painter.setPen(QPen(highlight.darker(150), 2));
    painter.drawLine(QPoint(playheadX, 0), QPoint(playheadX, waves.bottom()));
    if (hasFocus()) {
        painter.setPen(QPen(highlight, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void WaveformView::seekToPointer(double x) {
    if (!seekable_ || width() <= 1) return;
    const double fraction = fractionAt(x);
    setPosition(fraction);
    emit seekRequested(fraction);
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPointF at = event->position();
    pressedAt_ = at.toPoint();
    const bool inStrip = at.y() >= height() - kStripHeight;
    const double fraction = fractionAt(at.x());
    if (seekable_ && inStrip && hasRegion() && fraction >= regionFrom_ && fraction <= regionTo_) {
        gesture_ = Gesture::Grab;
    } else if (seekable_ && (inStrip || (event->modifiers() & Qt::ShiftModifier))) {
        gesture_ = Gesture::Select;
        anchor_ = fraction;
    } else {
        gesture_ = Gesture::Seek;
        seekToPointer(at.x());
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    const QPointF at = event->position();
    switch (gesture_) {
        case Gesture::Seek:
            seekToPointer(at.x());
            break;
        case Gesture::Select: {
            const double fraction = fractionAt(at.x());
            setRegion(std::min(anchor_, fraction), std::max(anchor_, fraction));
            break;
        }
        case Gesture::Grab:
            if ((at.toPoint() - pressedAt_).manhattanLength() >=
                QApplication::startDragDistance()) {
                gesture_ = Gesture::None;
                emit dragOutRequested();
            }
            break;
        case Gesture::None:
            break;
    }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    const Gesture gesture = std::exchange(gesture_, Gesture::None);
    if (gesture == Gesture::Grab) {
        // A click on the region, not a pull: it goes as any click in the strip.
        clearRegion();
        emit regionChanged();
    } else if (gesture == Gesture::Select) {
        // Narrower than a couple of pixels is a click, which clears.
        if (std::abs(xOf(regionTo_) - xOf(regionFrom_)) < 2) clearRegion();
        emit regionChanged();
    }
}

}  // namespace kalvero::player
