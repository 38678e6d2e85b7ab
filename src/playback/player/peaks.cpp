#include "playback/player/peaks.h"

#include "playback/player/soundfile.h"
#include "reconcile/audioanalysis.h"

#include <QElapsedTimer>
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace kalvero::player {

namespace {
constexpr sf_count_t kBlockFrames = 16384;
// How often finished columns are handed over while a long file is read.
constexpr qint64 kDeliverMilliseconds = 100;

}  // namespace

int scanPeaks(SoundFile& sound, qint64 totalFrames, int columns, const std::atomic<bool>& cancel,
              const std::function<void(int first, const QVector<Peak>& peaks)>& deliver,
              const std::function<void(const float* frames, qint64 count)>& everyBlock) {
    if (totalFrames <= 0 || columns <= 0) return 0;
    const int channels = sound.channels();
    std::vector<float> block(static_cast<size_t>(kBlockFrames) * static_cast<size_t>(channels));
    // The frame where column c ends: an exact integer split, so no frame is
    // counted twice or lost however the division falls.
    auto columnEnd = [&](int c) { return (static_cast<qint64>(c) + 1) * totalFrames / columns; };

    QVector<Peak> done;
    int firstUndelivered = 0;
    int column = 0;
    qint64 end = columnEnd(0);
    float low = std::numeric_limits<float>::max();
    float high = std::numeric_limits<float>::lowest();
    qint64 frame = 0;
    QElapsedTimer sinceDelivery;
    sinceDelivery.start();

    auto finishColumn = [&] {
        // A column without frames (more columns than frames) stays flat.
        done.append(low <= high ? Peak{low, high} : Peak{});
        low = std::numeric_limits<float>::max();
        high = std::numeric_limits<float>::lowest();
        ++column;
        end = column < columns ? columnEnd(column) : totalFrames;
    };
    auto handOver = [&] {
        if (done.isEmpty()) return;
        deliver(firstUndelivered, done);
        firstUndelivered += static_cast<int>(done.size());
        done.clear();
        sinceDelivery.restart();
    };

    while (column < columns && !cancel.load(std::memory_order_relaxed)) {
        const sf_count_t got = sound.readFrames(block.data(), kBlockFrames);
        if (got <= 0) break;
        if (everyBlock) everyBlock(block.data(), got);
        for (sf_count_t f = 0; f < got && column < columns; ++f, ++frame) {
            while (frame >= end && column < columns) finishColumn();
            if (column >= columns) break;
            const float* sample = block.data() + f * channels;
            for (int c = 0; c < channels; ++c) {
                low = std::min(low, sample[c]);
                high = std::max(high, sample[c]);
            }
        }
        if (sinceDelivery.elapsed() >= kDeliverMilliseconds) handOver();
    }
    // The file ended (or the length was a little off): close what was reached.
    if (!cancel.load(std::memory_order_relaxed) && frame >= totalFrames) {
        while (column < columns) finishColumn();
    }
    handOver();
    return column;
}

PeakScanner::PeakScanner(QObject* parent) : QObject(parent) {}

PeakScanner::~PeakScanner() {
    cancel_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

void PeakScanner::start(const QByteArray& nativePath, qint64 totalFrames, int columns) {
    if (thread_.joinable()) return;
    thread_ = std::thread([this, nativePath, totalFrames, columns] {
        QString reason;
        std::unique_ptr<SoundFile> sound = SoundFile::open(nativePath, reason);
        int count = 0;
        if (sound) {
            reconcile::LoudnessMeter meter(sound->channels(), sound->sampleRate());
            auto measure = [&meter](const float* frames, qint64 frameCount) {
                meter.add(frames, frameCount);
            };
            count = scanPeaks(
                *sound, totalFrames, columns, cancel_,
                [this](int first, const QVector<Peak>& peaks) {
                    // Queued: runs in the window's thread, and
                    // is dropped if this object is gone by then.
                    QMetaObject::invokeMethod(
                        this, [this, first, peaks] { emit peaksReady(first, peaks); },
                        Qt::QueuedConnection);
                },
                measure);
            // The overview stops at the length the file states (none when it
            // states none); the loudness takes in every frame there is.
            std::vector<float> rest(static_cast<size_t>(kBlockFrames) *
                                    static_cast<size_t>(sound->channels()));
            while (!cancel_.load(std::memory_order_relaxed)) {
                const sf_count_t got = sound->readFrames(rest.data(), kBlockFrames);
                if (got <= 0) break;
                measure(rest.data(), got);
            }
            // A sound cut short by a fault would be measured on part of itself,
            // and one with no frames has nothing to measure.
            const std::optional<reconcile::LoudnessMeter::Measures> measures =
                cancel_.load(std::memory_order_relaxed) || !sound->faultText().isEmpty() ||
                        meter.frames() == 0
                    ? std::nullopt
                    : meter.measures();
            if (measures) {
                const Loudness measured{measures->integratedLufs, measures->samplePeak};
                QMetaObject::invokeMethod(
                    this, [this, measured] { emit loudnessMeasured(measured); },
                    Qt::QueuedConnection);
            }
        }
        QMetaObject::invokeMethod(
            this, [this, count] { emit finished(count); }, Qt::QueuedConnection);
    });
}

}  // namespace kalvero::player
