#pragma once

#include <QString>
#include <QVector>

namespace kalvero::test {

// A sound file to generate: libsndfile's format code and the file's shape.
struct SoundSpec {
    int format = 0;
    int channels = 1;
    int sampleRate = 22050;
    int frames = 4410;
};

// Writes a sine per channel (each channel its own pitch, none starting at
// zero) in the given format. Returns an empty text on success, otherwise why
// the file could not be written; `unsupported` is set when this libsndfile
// cannot write the format at all.
QString writeSine(const QString& path, const SoundSpec& shape, bool* unsupported = nullptr);

// The file as libsndfile decodes it: interleaved floats. Empty when it
// cannot be opened.
QVector<float> decodeAll(const QString& path, int* channels = nullptr);

// The samples' root mean square.
double rootMeanSquare(const QVector<float>& samples);

}  // namespace kalvero::test
