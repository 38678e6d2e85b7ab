#pragma once

#include <QByteArray>
#include <QObject>
#include <QVector>
#include <atomic>
#include <functional>
#include <thread>

namespace kalvero::player {

class SoundFile;

// The lowest and highest sample of one column of the overview, over all channels.
struct Peak {
    float low = 0;
    float high = 0;
    bool operator==(const Peak&) const = default;
};

// EBU R128 measures of a whole sound.
struct Loudness {
    // Integrated loudness in LUFS; -infinity for silence.
    double integratedLufs = 0;
    // The largest absolute sample, 1.0 being full scale.
    double samplePeak = 0;
};

// Reads `sound` from its current place to the end and sums it up in
// `columns` columns over `totalFrames` frames: column c covers the frames
// [c * total / columns, (c + 1) * total / columns). `deliver` is called with
// each stretch of finished columns (first column, peaks) as the read goes on,
// and `everyBlock`, when given, with every block of interleaved frames read.
// Stops early when `cancel` is set. Returns the number of finished columns.
int scanPeaks(SoundFile& sound, qint64 totalFrames, int columns, const std::atomic<bool>& cancel,
              const std::function<void(int first, const QVector<Peak>& peaks)>& deliver,
              const std::function<void(const float* frames, qint64 count)>& everyBlock = {});

// Runs scanPeaks on a thread of its own over a second opening of the file,
// so the window never waits for it, and hands the columns over in the
// window's thread as they are done. The same read measures the sound's
// loudness, handed over once the file has been read to its end.
class PeakScanner : public QObject {
    Q_OBJECT
public:
    explicit PeakScanner(QObject* parent = nullptr);
    // Stops the scan and waits for its thread, which stops within one block.
    ~PeakScanner() override;

    void start(const QByteArray& nativePath, qint64 totalFrames, int columns);

signals:
    void peaksReady(int first, const QVector<Peak>& peaks);
    void finished(int columns);
    // Not sent when the scan was stopped, the file could not be read to its
    // end or held no frames.
    void loudnessMeasured(const kalvero::player::Loudness& loudness);

private:
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

}  // namespace kalvero::player
