#pragma once

#include "playback/player/peaks.h"

#include <QVector>
#include <QWidget>

namespace kalvero::player {

// The whole sound at a glance: one column of peaks per slice of the file,
// filled in as the scan reaches it, the part already played set apart, and a
// playhead. A click or a drag asks to play from that place.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    explicit WaveformView(QWidget* parent = nullptr);

    // Starts an empty overview of `columns` columns.
    void reset(int columns);
    void addPeaks(int first, const QVector<Peak>& peaks);
    // Where the playhead stands, from 0 (start) to 1 (end).
    void setPosition(double fraction);
    double position() const { return position_; }
    const QVector<Peak>& peaks() const { return peaks_; }
    int filledColumns() const { return filled_; }
    // Whether clicking asks for a seek (not when the length is unknown).
    void setSeekable(bool seekable) { seekable_ = seekable; }

    QSize sizeHint() const override;

signals:
    // The user clicked or dragged to `fraction` of the sound.
    void seekRequested(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void seekToPointer(double x);

    QVector<Peak> peaks_;
    int filled_ = 0;
    double position_ = 0;
    bool seekable_ = true;
};

}  // namespace kalvero::player
