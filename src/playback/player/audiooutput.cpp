#include "playback/player/audiooutput.h"

#include "playback/player/soundfile.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace kalvero::player {

namespace {

// 12 to 25 ms per buffer: closing the device waits for the buffer under way
// and two more to drain, so a stop, and a later player taking over, is done
// well within 100 ms; still long enough not to starve on a busy machine. SDL
// wants a power of two.
Uint16 bufferFrames(int sampleRate) {
    int frames = 128;
    while (frames < 8192 && frames * 80 < sampleRate) frames *= 2;
    return static_cast<Uint16>(frames);
}

// Silent buffers played after the last sample before the sound counts as
// ended, so that closing the device does not cut off what it still holds.
constexpr int kTrailingBuffers = 2;

}  // namespace

float gainForLevel(int percent) {
    const float fraction = static_cast<float>(std::clamp(percent, 0, 100)) / 100.0f;
    return fraction * fraction;
}

AudioOutput::AudioOutput(SoundFile& sound) : sound_(&sound) {}

AudioOutput::~AudioOutput() {
    stop();
    if (audioInitialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool AudioOutput::start(QString& reason) {
    if (!audioInitialised_) {
        // Only audio is used: SDL must not install signal handlers of its own.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            reason = QStringLiteral("no sound output is available (%1)")
                         .arg(QString::fromUtf8(SDL_GetError()));
            return false;
        }
        audioInitialised_ = true;
    }

    SDL_AudioSpec wanted{};
    wanted.freq = sound_->sampleRate();
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(sound_->channels());
    wanted.samples = bufferFrames(sound_->sampleRate());
    wanted.callback = [](void* self, Uint8* stream, int bytes) {
        auto* output = static_cast<AudioOutput*>(self);
        const int frameBytes = static_cast<int>(sizeof(float)) * output->sound_->channels();
        output->fill(reinterpret_cast<float*>(stream), bytes / frameBytes);
    };
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0) {
        reason = QStringLiteral("the sound device could not be opened (%1)")
                     .arg(QString::fromUtf8(SDL_GetError()));
        return false;
    }
    paused_ = false;
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void AudioOutput::restartAt(std::int64_t frame) {
    framesPlayed_.store(frame, std::memory_order_relaxed);
    endOfSound_ = false;
    silentBuffers_ = 0;
    fault_.clear();
    ended_.store(false, std::memory_order_release);
}

bool AudioOutput::switchTo(SoundFile& next, QString& reason) {
    if (device_ != 0 && next.sampleRate() == sound_->sampleRate() &&
        next.channels() == sound_->channels()) {
        SDL_LockAudioDevice(device_);
        sound_ = &next;
        loopFrom_ = loopTo_ = 0;
        restartAt(0);
        SDL_UnlockAudioDevice(device_);
        setPaused(false);
        return true;
    }
    // Another shape of sound needs a device opened for it.
    stop();
    sound_ = &next;
    loopFrom_ = loopTo_ = 0;
    restartAt(0);
    return start(reason);
}

void AudioOutput::stop() {
    if (device_ == 0) return;
    // Closing waits for a running callback to return.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
}

void AudioOutput::setPaused(bool paused) {
    if (device_ == 0 || paused == paused_) return;
    paused_ = paused;
    SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

bool AudioOutput::seek(std::int64_t frame) {
    if (device_ == 0) return false;
    const sf_count_t total = sound_->frames();
    frame = std::max<std::int64_t>(0, total >= 0 ? std::min<std::int64_t>(frame, total) : frame);
    // The audio thread reads the file in its callback: move the file and the
    // count while it is held out.
    SDL_LockAudioDevice(device_);
    const bool moved = sound_->seek(frame);
    if (moved) restartAt(frame);
    SDL_UnlockAudioDevice(device_);
    return moved;
}

void AudioOutput::setLoop(std::int64_t from, std::int64_t to) {
    if (device_ != 0) SDL_LockAudioDevice(device_);
    loopFrom_ = std::max<std::int64_t>(0, from);
    loopTo_ = to;
    if (device_ != 0) SDL_UnlockAudioDevice(device_);
}

void AudioOutput::setGain(float gain) {
    gain_.store(std::clamp(gain, 0.0f, 1.0f), std::memory_order_relaxed);
}

void AudioOutput::fill(float* out, int frames) {
    const int channels = sound_->channels();
    sf_count_t got = 0;
    // Set when the loop went back to its start and has read nothing since:
    // a loop that yields no frames must not spin here.
    bool wrapped = false;
    while (!endOfSound_ && got < frames) {
        const std::int64_t position = framesPlayed_.load(std::memory_order_relaxed);
        const bool looping = loopTo_ > loopFrom_;
        const bool loopEndAhead = looping && position < loopTo_;
        sf_count_t want = frames - got;
        if (loopEndAhead) want = std::min<sf_count_t>(want, loopTo_ - position);
        const sf_count_t read =
            std::max<sf_count_t>(0, sound_->readFrames(out + got * channels, want));
        framesPlayed_.fetch_add(read, std::memory_order_relaxed);
        got += read;
        if (read > 0) wrapped = false;
        const bool fileEnded = read < want;
        const bool atLoopEnd = loopEndAhead && position + read >= loopTo_;
        if (!fileEnded && !atLoopEnd) continue;
        const bool faulty = fileEnded && !sound_->faultText().isEmpty();
        if (looping && !faulty && !wrapped && sound_->seek(loopFrom_)) {
            framesPlayed_.store(loopFrom_, std::memory_order_relaxed);
            wrapped = true;
            continue;
        }
        if (fileEnded) {
            endOfSound_ = true;
            fault_ = sound_->faultText();
        }
    }
    const float gain = gain_.load(std::memory_order_relaxed);
    if (gain != 1.0f)
        for (float* sample = out; sample < out + got * channels; ++sample) *sample *= gain;
    std::memset(out + got * channels, 0,
                static_cast<size_t>(frames - got) * static_cast<size_t>(channels) * sizeof(float));
    if (endOfSound_ && got == 0 && ++silentBuffers_ >= kTrailingBuffers)
        ended_.store(true, std::memory_order_release);
}

}  // namespace kalvero::player
