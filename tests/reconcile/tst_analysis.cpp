// Analysis of one sound file: loudness and peak of generated signals against
// the values the EBU R128 definition gives, the audio hash across containers
// and tags, files that cannot be analysed, and the display texts.

#include "reconcile/audioanalysis.h"

#include <sndfile.h>

#include <QtTest>
#include <cmath>
#include <limits>

using namespace kalvero::reconcile;
using namespace Qt::StringLiterals;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Shape {
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    int channels = 1;
    int rate = 48000;
    QByteArray title;
};

// Writes interleaved 32-bit samples; false when libsndfile refuses.
bool writeFile(const QString& path, const Shape& shape, const std::vector<int>& samples) {
    SF_INFO info{};
    info.format = shape.format;
    info.channels = shape.channels;
    info.samplerate = shape.rate;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    if (!shape.title.isEmpty()) {
        sf_set_string(file, SF_STR_TITLE, shape.title.constData());
        sf_set_string(file, SF_STR_COMMENT, "tagged 'apart' 100%");
    }
    const sf_count_t frames = sf_count_t(samples.size()) / shape.channels;
    const bool ok = sf_writef_int(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

// A sine of `frequency` at `dbfs` in every channel, `seconds` long.
std::vector<int> sine(int channels, int rate, double frequency, double dbfs, double seconds) {
    const double amplitude = std::isfinite(dbfs) ? std::pow(10.0, dbfs / 20) : 0.0;
    const int frames = int(rate * seconds);
    std::vector<int> out;
    out.reserve(size_t(frames * channels));
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * frequency * i / rate);
        for (int c = 0; c < channels; ++c) out.push_back(int(std::lround(v * 2147483647.0)));
    }
    return out;
}

// 16-bit noise scaled to 32 bits, the same for every call with one seed.
std::vector<int> noise(size_t samples, quint32 seed) {
    std::vector<int> out(samples);
    for (int& s : out) {
        seed = seed * 1664525u + 1013904223u;
        s = int(quint32(seed & 0xffff0000u));
    }
    return out;
}

}  // namespace

class AnalysisTest : public QObject {
    Q_OBJECT
private slots:
    void loudness_data();
    void loudness();
    void hash_data();
    void hash();
    void unreadable_data();
    void unreadable();
    void texts_data();
    void texts();

private:
    QTemporaryDir dir_;
};

void AnalysisTest::loudness_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("dbfs");
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("peak");
    QTest::newRow("full-scale 1 kHz sine, one channel") << 1 << 0.0 << -3.01 << 1.0;
    QTest::newRow("-20 dBFS 1 kHz sine") << 1 << -20.0 << -23.01 << 0.1;
    QTest::newRow("full-scale, both channels of a pair") << 2 << 0.0 << 0.0 << 1.0;
    QTest::newRow("-20 dBFS, both channels") << 2 << -20.0 << -20.0 << 0.1;
    QTest::newRow("silence") << 2 << -kInf << -kInf << 0.0;
}

void AnalysisTest::loudness() {
    QFETCH(int, channels);
    QFETCH(double, dbfs);
    QFETCH(double, lufs);
    QFETCH(double, peak);
    const QString path = dir_.filePath(
        u"sine 'q' \"dq\" 100%% é 音 %1.wav"_s.arg(QString::fromUtf8(QTest::currentDataTag())));
    QVERIFY(writeFile(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_24, channels, 48000, {}},
                      sine(channels, 48000, 1000, dbfs, 5)));
    QString error;
    const std::optional<AudioAnalysis> result = analyseSoundFile(path, &error);
    QVERIFY2(result, qPrintable(error));
    if (std::isfinite(lufs))
        QVERIFY2(std::abs(result->integratedLufs - lufs) < 0.05,
                 qPrintable(QString::number(result->integratedLufs)));
    else
        QVERIFY2(std::isinf(result->integratedLufs) && result->integratedLufs < 0,
                 qPrintable(QString::number(result->integratedLufs)));
    QVERIFY2(std::abs(result->samplePeak - peak) < 1e-4,
             qPrintable(QString::number(result->samplePeak)));
    // A steady tone has no loudness range.
    QVERIFY2(std::abs(result->loudnessRangeLu) < 0.1,
             qPrintable(QString::number(result->loudnessRangeLu)));
    QCOMPARE(result->frames, 5 * 48000);
    QCOMPARE(result->channels, channels);
    const QFileInfo info(path);
    QCOMPARE(result->fileSize, info.size());
    QCOMPARE(result->modifiedNs / 1'000'000, info.lastModified().toMSecsSinceEpoch());
}

void AnalysisTest::hash_data() {
    QTest::addColumn<int>("formatA");
    QTest::addColumn<int>("formatB");
    QTest::addColumn<int>("channelsB");
    QTest::addColumn<int>("rateB");
    QTest::addColumn<int>("changedSample");  // -1: none
    QTest::addColumn<bool>("equal");
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16, wav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    const int flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
              flac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    const int aiff16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    QTest::newRow("WAV and FLAC, 16-bit, other tags")
        << wav16 << flac16 << 2 << 44100 << -1 << true;
    QTest::newRow("WAV and FLAC, 24-bit") << wav24 << flac24 << 2 << 44100 << -1 << true;
    QTest::newRow("WAV and AIFF") << wav16 << aiff16 << 2 << 44100 << -1 << true;
    QTest::newRow("16-bit audio in a 24-bit file") << wav16 << flac24 << 2 << 44100 << -1 << true;
    QTest::newRow("one sample changed") << wav16 << flac16 << 2 << 44100 << 7001 << false;
    QTest::newRow("the last sample changed") << wav16 << wav16 << 2 << 44100 << 19999 << false;
    QTest::newRow("the same samples as one channel") << wav16 << wav16 << 1 << 44100 << -1 << false;
    QTest::newRow("another sample rate") << wav16 << wav16 << 2 << 48000 << -1 << false;
}

void AnalysisTest::hash() {
    QFETCH(int, formatA);
    QFETCH(int, formatB);
    QFETCH(int, channelsB);
    QFETCH(int, rateB);
    QFETCH(int, changedSample);
    QFETCH(bool, equal);
    const std::vector<int> samples = noise(20000, 7);
    std::vector<int> other = samples;
    if (changedSample >= 0) other[size_t(changedSample)] ^= 0x10000;
    const QString a = dir_.filePath(u"a ' Ä.wav"_s);
    const QString b = dir_.filePath(u"b ' Ä 音.snd"_s);
    QVERIFY(writeFile(a, {formatA, 2, 44100, "First title"}, samples));
    QVERIFY(writeFile(b, {formatB, channelsB, rateB, "Другое имя, \"other\""}, other));
    QString error;
    const auto first = analyseSoundFile(a, &error);
    QVERIFY2(first, qPrintable(error));
    const auto second = analyseSoundFile(b, &error);
    QVERIFY2(second, qPrintable(error));
    QCOMPARE(first->audioHash.size(), 32);
    QCOMPARE(first->audioHash == second->audioHash, equal);
    // The hash is the file's audio, not the file: the same file hashes alike again.
    QCOMPARE(analyseSoundFile(a)->audioHash, first->audioHash);
}

void AnalysisTest::unreadable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");  // null: nothing at the path
    QTest::newRow("text named .wav") << u"notes 'x' %1.wav"_s << QByteArray("just some text\n");
    QTest::newRow("empty file") << u"empty é.flac"_s << QByteArray("");
    QTest::newRow("cut-off header")
        << u"cut.wav"_s << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16);
    QTest::newRow("nothing there") << u"gone 音.wav"_s << QByteArray();
    QTest::newRow("a folder") << u"folder.wav"_s << QByteArray();
    QTest::newRow("no path") << QString() << QByteArray();
}

void AnalysisTest::unreadable() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QString path = name.isEmpty() ? QString() : dir_.filePath(name);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else if (name == u"folder.wav"_s) {
        QVERIFY(QDir().mkpath(path));
    }
    QString error;
    QVERIFY(!analyseSoundFile(path, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.endsWith(u'.'), qPrintable(error));
}

void AnalysisTest::texts_data() {
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("peak");
    QTest::addColumn<QString>("loudness");
    QTest::addColumn<QString>("peakText");
    QTest::newRow("reference level") << -23.01 << 0.1 << u"-23.0 LUFS"_s << u"-20.0 dBFS"_s;
    QTest::newRow("full scale") << -3.0103 << 1.0 << u"-3.0 LUFS"_s << u"0.0 dBFS"_s;
    QTest::newRow("rounds to no sign") << -0.04 << 0.99999 << u"0.0 LUFS"_s << u"0.0 dBFS"_s;
    QTest::newRow("half scale") << -14.45 << 0.5 << u"-14.5 LUFS"_s << u"-6.0 dBFS"_s;
    QTest::newRow("silence") << -kInf << 0.0 << u"-inf LUFS"_s << u"-inf dBFS"_s;
}

void AnalysisTest::texts() {
    QFETCH(double, lufs);
    QFETCH(double, peak);
    QFETCH(QString, loudness);
    QFETCH(QString, peakText);
    QCOMPARE(formatLoudness(lufs), loudness);
    QCOMPARE(formatPeak(peak), peakText);
}

QTEST_GUILESS_MAIN(AnalysisTest)
#include "tst_analysis.moc"
