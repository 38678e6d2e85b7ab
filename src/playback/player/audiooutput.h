#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

namespace kalvero::player {

class SoundFile;

// Plays one SoundFile at a time through an SDL audio device. SDL pulls the
// samples on its own thread; the window polls the position and the end from
// its thread.
//
// The device is opened at the file's own rate and channel count with 32-bit
// float samples, and SDL converts if the hardware wants something else. So
// with SDL_AUDIODRIVER=disk the output file (SDL_DISKAUDIOFILE) holds exactly
// the decoded samples, framed by silence; SDL_AUDIODRIVER=dummy discards them.
// At unity gain the samples pass untouched.
class AudioOutput {
public:
    explicit AudioOutput(SoundFile& sound);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens a device and starts playing. On failure returns false and sets
    // `reason` in plain words; nothing plays then.
    bool start(QString& reason);
    // Ends playing at once and closes the device; safe to call more than once.
    void stop();
    bool isOpen() const { return device_ != 0; }

    // Plays `next` from its start instead. With the same rate and channels
    // the device stays open and the change falls between two of its buffers,
    // so the old sound stops as the new one starts; otherwise the device is
    // opened anew for `next`. The old sound is not read once this returns.
    // Looping is switched off. Returns false with `reason` set when no device
    // could be opened; nothing plays then.
    bool switchTo(SoundFile& next, QString& reason);

    // Where playing stands: the frame the device is handed next.
    std::int64_t framesPlayed() const { return framesPlayed_.load(std::memory_order_relaxed); }
    // Holds or resumes the sound; the position stays where it is.
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }
    // Goes on playing from `frame` (clamped to the sound). Returns false when
    // the file cannot seek; playing then goes on where it was.
    bool seek(std::int64_t frame);
    // Plays frames [from, to) over and over: reaching `to` (or the end of the
    // file, when `to` lies beyond it) goes back to `from`. to <= from ends
    // looping; the sound then plays on to its end.
    void setLoop(std::int64_t from, std::int64_t to);
    // Multiplies every sample by `gain`, from 0 (silent) to 1 (unity, the
    // most); the change is heard from the next buffer on.
    void setGain(float gain);
    float gain() const { return gain_.load(std::memory_order_relaxed); }
    // True once every decoded frame has been handed over and played out.
    bool hasEnded() const { return ended_.load(std::memory_order_acquire); }
    // After hasEnded(): why decoding stopped early, or empty when it did not.
    const QString& fault() const { return fault_; }

private:
    void fill(float* out, int frames);
    void restartAt(std::int64_t frame);

    SoundFile* sound_;
    bool audioInitialised_ = false;
    bool paused_ = false;
    std::uint32_t device_ = 0;
    // Touched only by SDL's audio thread while the device is open, or with
    // the device locked.
    bool endOfSound_ = false;
    int silentBuffers_ = 0;
    std::int64_t loopFrom_ = 0;
    std::int64_t loopTo_ = 0;
    QString fault_;
    std::atomic<std::int64_t> framesPlayed_{0};
    std::atomic<bool> ended_{false};
    std::atomic<float> gain_{1.0f};
};

// The gain of a volume level in percent, 0 to 100: the square of the
// fraction, so that the lower half of the slider still spans a useful range
// (50 % is about -12 dB). Never above unity.
float gainForLevel(int percent);

}  // namespace kalvero::player
