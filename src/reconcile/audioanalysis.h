#pragma once

#include <ebur128.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>

namespace kalvero::reconcile {

// What one pass over a sound file's audio tells about it.
struct AudioAnalysis {
    // SHA-256 of the decoded audio: the channel count and sample rate, then
    // every sample as libsndfile gives it scaled to 32 bits (little-endian).
    // Tags and headers are not in it, so re-tagging a file or moving its audio
    // between WAV, AIFF and FLAC keeps it; 16-bit audio kept in a 24-bit file
    // hashes as it did at 16 bits, since both scale to the same 32-bit values.
    QByteArray audioHash;
    // EBU R128 integrated loudness in LUFS; -infinity for audio that never
    // rises above the standard's absolute gate (silence).
    double integratedLufs = 0;
    // EBU R128 loudness range in LU.
    double loudnessRangeLu = 0;
    // The largest absolute sample, 1.0 being full scale.
    double samplePeak = 0;
    qint64 frames = 0;
    int channels = 0;
    int sampleRate = 0;
    // The file as it was read: a later change of either means the analysis is stale.
    qint64 fileSize = 0;
    qint64 modifiedNs = 0;  // since the epoch
};

// EBU R128 integrated loudness, loudness range and sample peak (libebur128),
// fed block by block with interleaved frames: the one meter of the analysis
// and of the player.
class LoudnessMeter {
public:
    LoudnessMeter(int channels, int sampleRate);
    // False when the meter could not be set up for the sound's shape, or failed on a block.
    bool isValid() const { return state_ != nullptr; }
    // Once a block fails the meter stays failed.
    bool add(const int* frames, qint64 count);
    bool add(const float* frames, qint64 count);
    qint64 frames() const { return frames_; }

    struct Measures {
        double integratedLufs = 0;  // -infinity for silence
        double loudnessRangeLu = 0;
        double samplePeak = 0;  // linear, 1.0 being full scale
    };
    // Nothing when the meter is not valid or the library failed.
    std::optional<Measures> measures() const;

private:
    struct Freer {
        void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
    };
    int channels_;
    std::unique_ptr<ebur128_state, Freer> state_;
    qint64 frames_ = 0;
};

// Decodes the file once and computes everything above in the same pass.
// Nothing when the file cannot be read, is no sound file libsndfile knows,
// or changed while it was read; `error` then says why in a plain sentence.
// Setting `stop` gives up a long file between two reads (nothing then).
std::optional<AudioAnalysis> analyseSoundFile(const QString& path, QString* error = nullptr,
                                              const std::atomic<bool>* stop = nullptr);

// The numbers as the catalogue keeps them, one decimal: "-23.4" (LUFS),
// "7.5" (LU), "-6.0" (dBFS from a linear peak); silence is "-inf".
QString loudnessNumber(double lufs);
QString loudnessRangeNumber(double lu);
QString peakNumber(double samplePeak);

// For display: "-23.4 LUFS"; silence "-inf LUFS", so the column keeps one shape.
QString formatLoudness(double lufs);
// For display: "-6.0 dBFS" from a linear peak; silence "-inf dBFS".
QString formatPeak(double samplePeak);
// The same from a peak already in dBFS, as the catalogue keeps it.
QString formatPeakDbfs(double dbfs);
// For display: "7.5 LU".
QString formatLoudnessRange(double lu);

}  // namespace kalvero::reconcile
