// The player's loop, volume and region, and dragging the sound or its region
// out of the window.

#include "playback/player/audiooutput.h"
#include "playback/player/playerwindow.h"
#include "playback/player/soundfile.h"
#include "playback/player/waveformview.h"

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kalvero::player {

void PlayerWindow::setLooping(bool looping) {
    // The button is the state: set from elsewhere, it comes back here toggled.
    if (loopButton_->isChecked() != looping) {
        loopButton_->setChecked(looping);
        return;
    }
    waveform_->setLooping(looping);
    applyLoop();
}

bool PlayerWindow::isLooping() const { return loopButton_->isChecked(); }

void PlayerWindow::applyLoop() {
    if (!output_) return;
    if (!isLooping()) {
        output_->setLoop(0, 0);
        return;
    }
    const FrameRange range = region();
    if (!range.isEmpty()) {
        output_->setLoop(range.from, range.to);
        return;
    }
    // A sound of unknown length loops at the end of its file.
    const qint64 length = lengthFrames();
    output_->setLoop(0, length > 0 ? length : std::numeric_limits<qint64>::max());
}

void PlayerWindow::setVolume(int percent) {
    volumeSlider_->setValue(
        std::clamp(percent, prefs::kPlayerVolume.lowest, prefs::kPlayerVolume.highest));
}

int PlayerWindow::volume() const { return volumeSlider_->value(); }

void PlayerWindow::saveVolume() {
    volumeSaver_->stop();
    options_.write(prefs::kPlayerVolume, volume());
}

FrameRange PlayerWindow::region() const {
    const qint64 length = lengthFrames();
    if (!waveform_->hasRegion() || length <= 0) return {};
    const auto frame = [length](double fraction) {
        return static_cast<qint64>(std::llround(fraction * static_cast<double>(length)));
    };
    return {frame(waveform_->regionStart()), frame(waveform_->regionEnd())};
}

void PlayerWindow::setRegion(FrameRange range) {
    const double length = static_cast<double>(lengthFrames());
    if (range.isEmpty() || length <= 0)
        waveform_->clearRegion();
    else
        waveform_->setRegion(static_cast<double>(range.from) / length,
                             static_cast<double>(range.to) / length);
    applyLoop();
}

QMimeData* PlayerWindow::dragData(QString& error) const {
    error.clear();
    if (!sound_) {
        error = QStringLiteral("there is no sound to drag");
        return nullptr;
    }
    QString path = QFileInfo(displayPath_).absoluteFilePath();
    const FrameRange range = region();
    if (!range.isEmpty()) {
        path = writeRegionFile(nativePath_, range, regionFolder(), error);
        if (path.isEmpty()) return nullptr;
    }
    // As the list offers files: the file as a URL, and its path as text.
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(path)});
    mime->setText(path);
    return mime;
}

void PlayerWindow::dragOut() {
    QString error;
    QMimeData* mime = dragData(error);
    if (!mime) {
        const QString text = QStringLiteral("The region cannot be dragged out: %1.").arg(error);
        std::fprintf(stderr, "KZW4: %s\n", text.toLocal8Bit().constData());
        QToolTip::showText(QCursor::pos(), text, this);
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileNameLabel_ &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        if (event->type() == QEvent::MouseButtonPress) {
            dragFrom_ = at;
        } else if ((mouse->buttons() & Qt::LeftButton) &&
                   (at - dragFrom_).manhattanLength() >= QApplication::startDragDistance()) {
            dragOut();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kalvero::player
