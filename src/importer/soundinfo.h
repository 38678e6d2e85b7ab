#pragma once

#include <QByteArray>
#include <QString>

namespace kalvero::importer {

// What a sound file says about itself, read with libsndfile.
struct SoundInfo {
    enum class Status { Readable, Unreadable, Missing };
    Status status = Status::Unreadable;
    // The embedded title; empty when there is none.
    QString title;
    // The embedded description: the broadcast description, then a comment that differs from it.
    QString description;
    // Container, sample rate, bit depth where the encoding has one, channels
    // and duration, e.g. "WAV 48000 Hz 24-bit stereo 0:03.25".
    QString summary;
};

SoundInfo readSoundInfo(const QByteArray& path);

// A duration in seconds and hundredths: "0:03.25", or "1:02:03.25" from an hour on.
QString formatDuration(qint64 frames, int sampleRate);

}  // namespace kalvero::importer
