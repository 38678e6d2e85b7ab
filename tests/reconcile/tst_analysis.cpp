// Analysis of one sound file: loudness and peak of generated signals against
// EBU R128's values, the audio hash across containers and tags, unreadable files.

#include "reconcile/audioanalysis.h"

#include <sndfile.h>

#include <QtTest>
#include <cmath>
#include <limits>

using namespace kalvero::reconcile;
using namespace Qt::StringLiterals;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Writes interleaved 32-bit samples, tagged when `title` is given; false when libsndfile refuses.
bool writeFile(const QString& path, int format, int channels, int rate, const char* title,
               const std::vector<int>& samples) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    if (title) sf_set_string(file, SF_STR_TITLE, title);
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
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

private:
    QTemporaryDir dir_;
};

void AnalysisTest::loudness_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("dbfs");
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("peak");
    QTest::addColumn<QString>("texts");  // as the list would show loudness and peak
    QTest::newRow("full-scale 1 kHz sine, one channel")
        << 1 << 0.0 << -3.01 << 1.0 << u"-3.0 LUFS, 0.0 dBFS"_s;
    QTest::newRow("-20 dBFS 1 kHz sine")
        << 1 << -20.0 << -23.01 << 0.1 << u"-23.0 LUFS, -20.0 dBFS"_s;
    // A hair under 0 LUFS: no "-0.0".
    QTest::newRow("full-scale, both channels of a pair")
        << 2 << 0.0 << 0.0 << 1.0 << u"0.0 LUFS, 0.0 dBFS"_s;
    QTest::newRow("silence") << 2 << -kInf << -kInf << 0.0 << u"-inf LUFS, -inf dBFS"_s;
}

void AnalysisTest::loudness() {
    QFETCH(int, channels);
    QFETCH(double, dbfs);
    QFETCH(double, lufs);
    QFETCH(double, peak);
    QFETCH(QString, texts);
    const QString path = dir_.filePath(
        u"sine 'q' \"dq\" 100%% é 音 %1.wav"_s.arg(QString::fromUtf8(QTest::currentDataTag())));
    QVERIFY(writeFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, channels, 48000, nullptr,
                      sine(channels, 48000, 1000, dbfs, 5)));
    QString error;
    const std::optional<AudioAnalysis> result = analyseSoundFile(path, &error);
    QVERIFY2(result, qPrintable(error));
    // Silence is -inf exactly.
    QVERIFY2(result->integratedLufs == lufs || std::abs(result->integratedLufs - lufs) < 0.05,
             qPrintable(QString::number(result->integratedLufs)));
    QVERIFY2(std::abs(result->samplePeak - peak) < 1e-4,
             qPrintable(QString::number(result->samplePeak)));
    // A steady tone has no loudness range.
    QVERIFY2(std::abs(result->loudnessRangeLu) < 0.1,
             qPrintable(QString::number(result->loudnessRangeLu)));
    QCOMPARE(formatLoudness(result->integratedLufs) + u", "_s + formatPeak(result->samplePeak),
             texts);
    QCOMPARE(result->frames, 5 * 48000);
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
    QTest::newRow("WAV and FLAC, 16-bit, other tags")
        << wav16 << flac16 << 2 << 44100 << -1 << true;
    QTest::newRow("WAV and FLAC, 24-bit") << wav24 << flac24 << 2 << 44100 << -1 << true;
    QTest::newRow("16-bit audio in a 24-bit file") << wav16 << flac24 << 2 << 44100 << -1 << true;
    QTest::newRow("one sample changed") << wav16 << flac16 << 2 << 44100 << 7001 << false;
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
    // 16-bit values, so that a 16-bit file holds them exactly.
    std::vector<int> samples = sine(2, 44100, 1234.5, -1, 0.25);
    for (int& v : samples) v &= int(0xffff0000u);
    std::vector<int> other = samples;
    if (changedSample >= 0) other[size_t(changedSample)] ^= 0x10000;
    const QString a = dir_.filePath(u"a ' Ä.wav"_s);
    const QString b = dir_.filePath(u"b ' Ä 音.snd"_s);
    QVERIFY(writeFile(a, formatA, 2, 44100, "First 'title' 100%", samples));
    QVERIFY(writeFile(b, formatB, channelsB, rateB, "Другое имя, \"other\"", other));
    const auto first = analyseSoundFile(a), second = analyseSoundFile(b);
    QVERIFY(first && second);
    QCOMPARE(first->audioHash.size(), 32);
    QCOMPARE(first->audioHash == second->audioHash, equal);
    // The hash is the file's audio, not the file: the same file hashes alike again.
    QCOMPARE(analyseSoundFile(a)->audioHash, first->audioHash);
}

void AnalysisTest::unreadable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");  // null: nothing at the path; "/": a folder
    QTest::addColumn<QString>("said");        // how the error begins
    QTest::newRow("text named .wav") << u"notes 'x' %1.wav"_s << QByteArray("just some text\n")
                                     << u"Not a sound file libsndfile can read: "_s;
    QTest::newRow("cut-off header")
        << u"cut.wav"_s << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16)
        << u"Not a sound file libsndfile can read: "_s;
    QTest::newRow("nothing there")
        << u"gone 音.wav"_s << QByteArray() << u"The file cannot be opened: "_s;
    QTest::newRow("a folder") << u"folder.wav"_s << QByteArray("/") << u"Not a file."_s;
}

void AnalysisTest::unreadable() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (content == "/")
        QVERIFY(QDir().mkpath(path));
    else if (!content.isNull())
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    QString error;
    QVERIFY(!analyseSoundFile(path, &error));
    QVERIFY2(error.startsWith(said) && error.endsWith(u'.'), qPrintable(error));
}

QTEST_GUILESS_MAIN(AnalysisTest)
#include "tst_analysis.moc"
