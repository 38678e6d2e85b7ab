#pragma once

#include "playback/player/peaks.h"

#include <QVector>
#include <QWidget>

namespace kalvero::player {

// The whole sound at a glance: one column of peaks per slice of the file,
// filled in as the scan reaches it, the part already played set apart, and a
// playhead. A click or a drag asks to play from that place.
//
// A region is selected with Shift and a drag over the waves, or with a drag
// in the strip under them; a click in the strip clears it. Grabbing the
// region in the strip and pulling it away asks for it to be dragged out as a
// file. When looping, the stretch that loops (the region, or else the whole
// sound) is marked above the waves.
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
    // Whether clicking asks for a seek (not when the length is unknown); a
    // sound that cannot seek has no regions either.
    void setSeekable(bool seekable);

    // The region as fractions of the sound, from < to; none when empty.
    void setRegion(double from, double to);
    void clearRegion();
    bool hasRegion() const { return regionTo_ > regionFrom_; }
    double regionStart() const { return regionFrom_; }
    double regionEnd() const { return regionTo_; }
    void setLooping(bool looping);
    bool isLooping() const { return looping_; }

    // The strip under the waves, in pixels.
    static constexpr int kStripHeight = 14;

    QSize sizeHint() const override;

signals:
    // The user clicked or dragged to `fraction` of the sound.
    void seekRequested(double fraction);
    // The user selected a region or cleared it.
    void regionChanged();
    // The user pulls the region out of the strip.
    void dragOutRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Gesture { None, Seek, Select, Grab };

    double fractionAt(double x) const;
    int xOf(double fraction) const;
    void seekToPointer(double x);

    QVector<Peak> peaks_;
    int filled_ = 0;
    double position_ = 0;
    bool seekable_ = true;
    double regionFrom_ = 0;
    double regionTo_ = 0;
    bool looping_ = false;
    Gesture gesture_ = Gesture::None;
    double anchor_ = 0;
    QPoint pressedAt_;
};

}  // namespace kalvero::player
