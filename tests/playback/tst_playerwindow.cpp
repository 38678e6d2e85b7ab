// The player's window in this process, with SDL writing its output to a
// file: what it shows, how it ends by itself, how the user stops, pauses and
// seeks, the waveform's overview, and how it tells why a file cannot be played.

#include "playback/player/audiooutput.h"
#include "playback/player/elidedlabel.h"
#include "playback/player/peaks.h"
#include "playback/player/playerwindow.h"
#include "playback/player/soundfile.h"
#include "playback/player/waveformview.h"
#include "soundfixtures.h"
#include "testsupport.h"

#include <sndfile.h>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>
#include <functional>
#include <numbers>

using kalvero::player::ExitCode;
using kalvero::player::Peak;
using kalvero::player::PlayerWindow;
using kalvero::player::WaveformView;

Q_DECLARE_METATYPE(ExitCode)

namespace {

struct Parts {
    QLabel* fileName;
    WaveformView* waveform;
    QLabel* time;
    QLabel* summary;
    QLabel* message;
    QPushButton* stop;
};

Parts partsOf(const PlayerWindow& window) {
    return {window.findChild<QLabel*>(QStringLiteral("fileNameLabel")),
            window.findChild<WaveformView*>(QStringLiteral("waveform")),
            window.findChild<QLabel*>(QStringLiteral("timeLabel")),
            window.findChild<QLabel*>(QStringLiteral("summaryLabel")),
            window.findChild<QLabel*>(QStringLiteral("messageLabel")),
            window.findChild<QPushButton*>(QStringLiteral("stopButton"))};
}

// A mono or stereo float WAV whose every sample is `shape(frame, channel)`:
// float samples come back from the device bit for bit.
QString writeShape(const QString& path, int channels, int rate, int frames,
                   const std::function<float(int, int)>& shape) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return QString::fromLocal8Bit(sf_strerror(nullptr));
    QVector<float> samples(qsizetype(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) samples[qsizetype(f) * channels + c] = shape(f, c);
    const bool whole = sf_writef_float(file, samples.constData(), frames) == frames;
    sf_close(file);
    return whole ? QString() : QStringLiteral("short write");
}

QVector<float> readPlayed(const QString& path) {
    QFile raw(path);
    if (!raw.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = raw.readAll();
    QVector<float> played(bytes.size() / qsizetype(sizeof(float)));
    if (!played.isEmpty())
        std::memcpy(played.data(), bytes.constData(), size_t(played.size()) * sizeof(float));
    return played;
}

// The body of a RIFF file's first chunk with this id, or null.
QByteArray riffChunk(const QByteArray& file, const char* id) {
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (file.mid(at, 4) == id) return file.mid(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() { qputenv(name_, old_); }

private:
    const char* name_;
    QByteArray old_;
};

}  // namespace

class PlayerWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void playsToTheEndAndCloses_data();
    void playsToTheEndAndCloses();
    void stopsWhenAsked_data();
    void stopsWhenAsked();
    void overviewOfAKnownShape_data();
    void overviewOfAKnownShape();
    void pausesAndSeeks();
    void showsWhyItCannotPlay_data();
    void showsWhyItCannotPlay();
    void closesOnFailureWhenAsked();
    void loopsAndSetsTheVolume();
    void regionBecomesAFile_data();
    void regionBecomesAFile();
    void summaryNeverRunsOffTheWindow();
    void showsWhatTheFileSays_data();
    void showsWhatTheFileSays();

private:
    QString output() const { return dir_.filePath(QStringLiteral("played.raw")); }
    qint64 outputFrames() const { return QFileInfo(output()).size() / qint64(sizeof(float)); }

    QTemporaryDir dir_;
    QString longSound_;
    qint64 longFrames_ = 0;
};

void PlayerWindowTest::initTestCase() {
    QVERIFY(dir_.isValid());
    // The user's own volume and cache stay out of these tests.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("cache"))));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output()));
    // Long enough that it cannot end by itself while a test stops it.
    longSound_ = dir_.filePath(QStringLiteral("long.wav"));
    longFrames_ = 8000 * 60;
    QCOMPARE(kalvero::test::writeSine(longSound_, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000,
                                                   static_cast<int>(longFrames_)}),
             QString());
}

void PlayerWindowTest::init() { QFile::remove(output()); }

void PlayerWindowTest::playsToTheEndAndCloses_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("hasSound");
    QTest::newRow("short sound, hostile name")
        << QStringLiteral("Ünï 'q' \"dq\" 100%_ 音 🎵 ::x.wav") << 2205 << true;
    QTest::newRow("sound without frames") << QStringLiteral("empty.wav") << 0 << false;
}

void PlayerWindowTest::playsToTheEndAndCloses() {
    QFETCH(QString, fileName);
    QFETCH(int, frames);
    QFETCH(bool, hasSound);
    const QString path = dir_.filePath(fileName);
    QCOMPARE(kalvero::test::writeSine(path, {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 22050, frames}),
             QString());

    PlayerWindow window(QFile::encodeName(path));
    QSignalSpy failures(&window, &PlayerWindow::failed);
    const Parts parts = partsOf(window);
    QVERIFY(parts.fileName && parts.waveform && parts.time && parts.summary && parts.message &&
            parts.stop);
    window.show();
    window.start();
    QVERIFY(window.isWindow());
    QVERIFY(window.windowTitle().contains(fileName));
    QCOMPARE(parts.fileName->text(), fileName);
    QCOMPARE(parts.fileName->toolTip(), path);
    QCOMPARE(parts.stop->text(), QStringLiteral("Stop"));
    // The waveform holds the focus, so Space pauses rather than presses a button.
    QCOMPARE(window.focusWidget(), parts.waveform);
    QVERIFY(parts.waveform->isVisible());
    QVERIFY2(parts.time->text().endsWith(frames > 0 ? QLatin1String(" / 0:00.1")
                                                    : QLatin1String(" / 0:00.0")),
             qPrintable(parts.time->text()));
    QVERIFY(!parts.message->isVisible());
    QVERIFY(window.isPlaying());
    // The catalogue's summary of the same file, word for word, read beside the sound.
    QTRY_COMPARE(parts.summary->text(),
                 frames > 0 ? QStringLiteral("WAV 22050 Hz 32-bit float stereo 0:00.10")
                            : QStringLiteral("WAV 22050 Hz 32-bit float stereo 0:00.00"));

    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QVERIFY(!window.isPlaying());
    QCOMPARE(window.exitCode(), ExitCode::Played);
    QCOMPARE(failures.count(), 0);
    QCOMPARE(window.failureText(), QString());
    QCOMPARE(parts.waveform->position(), 1.0);
    // Everything decoded reached the device.
    const qint64 played = outputFrames() / 2;
    QVERIFY2(played >= frames, qPrintable(QString::number(played)));
    Q_UNUSED(hasSound);
    QFile raw(output());
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QCOMPARE(bytes.count('\0') != bytes.size(), hasSound);
}

void PlayerWindowTest::stopsWhenAsked_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc on the window") << QStringLiteral("esc-window");
    QTest::newRow("Esc on the button") << QStringLiteral("esc-button");
    QTest::newRow("Space on the Stop button") << QStringLiteral("space-button");
    QTest::newRow("Stop clicked") << QStringLiteral("click");
    QTest::newRow("window closed") << QStringLiteral("close");
}

void PlayerWindowTest::stopsWhenAsked() {
    QFETCH(QString, how);
    PlayerWindow window(QFile::encodeName(longSound_));
    const Parts parts = partsOf(window);
    window.show();
    window.start();
    QVERIFY(window.isPlaying());
    // Wait until the sound is under way, then stop it.
    QTRY_VERIFY_WITH_TIMEOUT(window.positionFrames() > 0, 20000);

    if (how == QLatin1String("esc-window")) QTest::keyClick(&window, Qt::Key_Escape);
    if (how == QLatin1String("esc-button")) QTest::keyClick(parts.stop, Qt::Key_Escape);
    if (how == QLatin1String("space-button")) QTest::keyClick(parts.stop, Qt::Key_Space);
    if (how == QLatin1String("click")) QTest::mouseClick(parts.stop, Qt::LeftButton);
    if (how == QLatin1String("close")) window.close();

    QVERIFY(!window.isVisible());
    QVERIFY(!window.isPlaying());
    QCOMPARE(window.exitCode(), ExitCode::Played);
    // The device is closed: what it wrote is final and far from the whole sound.
    const qint64 played = outputFrames();
    QVERIFY(played > 0);
    QVERIFY2(played < longFrames_ / 2, qPrintable(QString::number(played)));
    QCoreApplication::processEvents();
    QCOMPARE(outputFrames(), played);
}

void PlayerWindowTest::overviewOfAKnownShape_data() {
    QTest::addColumn<int>("columns");
    QTest::addColumn<QVector<float>>("expectedHigh");
    // 8000 stereo frames: a 0.8 tone on the left for the first half, a 0.2
    // tone on the right for the second. Each column's peak is the louder one.
    QTest::newRow("columns on the halves")
        << 8 << QVector<float>{0.8f, 0.8f, 0.8f, 0.8f, 0.2f, 0.2f, 0.2f, 0.2f};
    // 8000 / 7 is no whole number: column 3 straddles the change.
    QTest::newRow("a column across the change")
        << 7 << QVector<float>{0.8f, 0.8f, 0.8f, 0.8f, 0.2f, 0.2f, 0.2f};
    // More columns than frames would be asked for by a very short file.
    QTest::newRow("one frame per column") << 8000 << QVector<float>{};
}

void PlayerWindowTest::overviewOfAKnownShape() {
    QFETCH(int, columns);
    QFETCH(QVector<float>, expectedHigh);
    const QString path = dir_.filePath(QStringLiteral("shape ü 'q'.wav"));
    const int frames = 8000;
    auto shape = [](int f, int c) {
        const float tone = std::sin(2 * 3.14159265f * 440.0f * float(f) / 8000.0f);
        if (f < frames / 2) return c == 0 ? 0.8f * tone : 0.0f;
        return c == 1 ? 0.2f * tone : 0.0f;
    };
    QCOMPARE(writeShape(path, 2, 8000, frames, shape), QString());

    QString reason;
    auto sound = kalvero::player::SoundFile::open(QFile::encodeName(path), reason);
    QVERIFY2(sound, qPrintable(reason));
    QVector<Peak> peaks(columns);
    int delivered = 0;
    const std::atomic<bool> cancel{false};
    const int done = kalvero::player::scanPeaks(
        *sound, frames, columns, cancel, [&](int first, const QVector<Peak>& part) {
            QCOMPARE(first, delivered);
            std::copy(part.begin(), part.end(), peaks.begin() + first);
            delivered += int(part.size());
        });
    QCOMPARE(done, columns);
    QCOMPARE(delivered, columns);
    for (int c = 0; c < columns; ++c) {
        // Each column holds exactly its own frames' extremes.
        const qint64 from = qint64(c) * frames / columns;
        const qint64 to = qint64(c + 1) * frames / columns;
        float low = 0;
        float high = 0;
        for (qint64 f = from; f < to; ++f)
            for (int ch = 0; ch < 2; ++ch) {
                low = std::min(low, shape(int(f), ch));
                high = std::max(high, shape(int(f), ch));
            }
        QCOMPARE(peaks[c].high, high);
        QCOMPARE(peaks[c].low, low);
        if (!expectedHigh.isEmpty()) {
            QVERIFY2(std::abs(peaks[c].high - expectedHigh[c]) < 0.02f,
                     qPrintable(QString::number(c)));
            QVERIFY(std::abs(peaks[c].low + expectedHigh[c]) < 0.02f);
        }
    }

    // The window draws the same overview, filled in from its own thread.
    PlayerWindow window(QFile::encodeName(path));
    window.show();
    window.start();
    const Parts parts = partsOf(window);
    const int shown = int(parts.waveform->peaks().size());
    QVERIFY(shown > 0 && shown <= frames);
    QTRY_COMPARE_WITH_TIMEOUT(parts.waveform->filledColumns(), shown, 10000);
    float firstHalf = 0;
    float secondHalf = 0;
    for (int c = 0; c < shown; ++c) {
        float& half = c < shown / 2 ? firstHalf : secondHalf;
        half = std::max(half, parts.waveform->peaks()[c].high);
    }
    QVERIFY2(std::abs(firstHalf - 0.8f) < 0.02f, qPrintable(QString::number(firstHalf)));
    QVERIFY2(std::abs(secondHalf - 0.2f) < 0.02f, qPrintable(QString::number(secondHalf)));
    window.stop();
}

void PlayerWindowTest::pausesAndSeeks() {
    // One minute whose every sample tells its own frame: a seek shows in the
    // device's output as a jump to exactly the frame asked for.
    const int rate = 8000;
    const int frames = rate * 60;
    auto ramp = [frames](int f, int) { return float(f + 1) / float(frames); };
    const QString path = dir_.filePath(QStringLiteral("ramp.wav"));
    QCOMPARE(writeShape(path, 1, rate, frames, ramp), QString());

    PlayerWindow window(QFile::encodeName(path));
    const Parts parts = partsOf(window);
    window.show();
    window.start();
    QCOMPARE(window.lengthFrames(), qint64(frames));
    QVERIFY2(parts.time->text().endsWith(QLatin1String(" / 1:00.0")),
             qPrintable(parts.time->text()));
    QTRY_VERIFY_WITH_TIMEOUT(window.positionFrames() > rate / 10, 20000);

    // Space pauses: the position stands still. Space again goes on.
    QTest::keyClick(parts.waveform, Qt::Key_Space);
    QVERIFY(window.isPaused());
    const qint64 held = window.positionFrames();
    QTest::qWait(300);
    QCOMPARE(window.positionFrames(), held);
    QVERIFY(window.isPlaying());
    QTest::keyClick(&window, Qt::Key_Space);
    QVERIFY(!window.isPaused());
    QTRY_VERIFY_WITH_TIMEOUT(window.positionFrames() > held, 20000);

    // Right goes on by five seconds, Left back by five, never before the start.
    QTest::keyClick(parts.waveform, Qt::Key_Space);
    qint64 before = window.positionFrames();
    QTest::keyClick(parts.waveform, Qt::Key_Right);
    QCOMPARE(window.positionFrames(), before + 5 * rate);
    QTest::keyClick(parts.waveform, Qt::Key_Left);
    QTest::keyClick(parts.waveform, Qt::Key_Left);
    QCOMPARE(window.positionFrames(), std::max<qint64>(0, before - 5 * rate));

    // A click at the middle of the waveform plays on from the middle.
    const QPoint middle(parts.waveform->width() / 2, parts.waveform->height() / 2);
    QTest::mouseClick(parts.waveform, Qt::LeftButton, {}, middle);
    const qint64 target = window.positionFrames();
    QVERIFY2(std::abs(target - frames / 2) <= frames / parts.waveform->width() + 1,
             qPrintable(QString::number(target)));
    QVERIFY2(parts.time->text().startsWith(QLatin1String("0:30.")), qPrintable(parts.time->text()));
    QTest::keyClick(parts.waveform, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(window.positionFrames() > target + rate / 5, 20000);
    QTest::keyClick(parts.waveform, Qt::Key_Escape);
    QVERIFY(!window.isVisible());

    // The device got the sound up to the pause, then from the target on.
    QFile raw(output());
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVector<float> played(bytes.size() / qsizetype(sizeof(float)));
    std::memcpy(played.data(), bytes.constData(), size_t(played.size()) * sizeof(float));
    const qsizetype at = played.indexOf(ramp(int(target), 0));
    QVERIFY2(at > 0, "the sound from the target frame never reached the device");
    QVERIFY(played[at - 1] != ramp(int(target) - 1, 0));
    for (qsizetype i = 1; i < rate / 5; ++i) QCOMPARE(played[at + i], ramp(int(target + i), 0));
}

void PlayerWindowTest::showsWhyItCannotPlay_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");  // null: no such file; "<dir>": a folder
    QTest::addColumn<QByteArray>("driver");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<ExitCode>("exitCode");

    QTest::newRow("missing file") << QStringLiteral("нет 'файла' 音.wav") << QByteArray()
                                  << QByteArray("disk") << QStringLiteral("the file does not exist")
                                  << ExitCode::CannotPlay;
    QTest::newRow("not a sound") << QStringLiteral("text.ogg") << QByteArray("100% not a sound")
                                 << QByteArray("disk")
                                 << QStringLiteral("it is not a sound file that KZW4 can decode")
                                 << ExitCode::CannotPlay;
    QTest::newRow("folder") << QStringLiteral("folder.wav") << QByteArray("<dir>")
                            << QByteArray("disk")
                            << QStringLiteral("it is a folder, not a sound file")
                            << ExitCode::CannotPlay;
    QTest::newRow("no sound output")
        << QStringLiteral("good.wav") << QByteArray("<sound>") << QByteArray("no-such-driver")
        << QStringLiteral("no sound output is available") << ExitCode::NoSoundDevice;
}

void PlayerWindowTest::showsWhyItCannotPlay() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, driver);
    QFETCH(QString, reason);
    QFETCH(ExitCode, exitCode);

    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    if (content == "<dir>") {
        QVERIFY(QDir().mkpath(path));
    } else if (content == "<sound>") {
        QCOMPARE(kalvero::test::writeSine(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 800}),
                 QString());
    } else if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    ScopedEnv env("SDL_AUDIODRIVER", driver);

    PlayerWindow window(QFile::encodeName(path));
    QSignalSpy failures(&window, &PlayerWindow::failed);
    const Parts parts = partsOf(window);
    window.show();
    window.start();

    const QString expected =
        QStringLiteral("The sound file \"%1\" cannot be played: %2").arg(path, reason);
    QVERIFY2(window.failureText().startsWith(expected), qPrintable(window.failureText()));
    QCOMPARE(parts.message->text(), window.failureText());
    QVERIFY(parts.message->isVisible());
    QVERIFY(!parts.waveform->isVisible());
    QCOMPARE(parts.stop->text(), QStringLiteral("Close"));
    QCOMPARE(failures.count(), 1);
    QCOMPARE(failures.at(0).at(0).toString(), window.failureText());
    QVERIFY(!window.isPlaying());
    QCOMPARE(window.exitCode(), exitCode);

    // It waits for the user; a second start changes nothing.
    QCoreApplication::processEvents();
    window.start();
    QCOMPARE(failures.count(), 1);
    QVERIFY(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.exitCode(), exitCode);
    QVERIFY(!QFile::exists(output()));
}

void PlayerWindowTest::closesOnFailureWhenAsked() {
    PlayerWindow window(QFile::encodeName(dir_.filePath(QStringLiteral("absent.wav"))));
    window.setCloseOnFailure(true);
    window.show();
    window.start();
    QVERIFY(!window.failureText().isEmpty());
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(window.exitCode(), ExitCode::CannotPlay);
}

void PlayerWindowTest::loopsAndSetsTheVolume() {
    kalvero::test::IsolatedSettings settings;
    // One second whose every sample tells its own frame.
    const int rate = 8000;
    auto ramp = [](int f) { return float(f + 1) / 8192.0f; };
    const QString path = dir_.filePath(QStringLiteral("loop 'ü' ёж.wav"));
    QCOMPARE(writeShape(path, 1, rate, rate, [&](int f, int) { return ramp(f); }), QString());

    PlayerWindow window(QFile::encodeName(path));
    const Parts parts = partsOf(window);
    auto* loop = window.findChild<QPushButton*>(QStringLiteral("loopButton"));
    auto* slider = window.findChild<QSlider*>(QStringLiteral("volumeSlider"));
    QVERIFY(loop && slider);
    window.show();
    window.start();
    QCOMPARE(window.volume(), 100);
    window.setRegion({2000, 3000});
    QTest::keyClick(parts.waveform, Qt::Key_L);
    QVERIFY(window.isLooping() && loop->isChecked() && parts.waveform->isLooping());
    QCOMPARE(window.region(), (kalvero::player::FrameRange{2000, 3000}));
    // Round and round, long past the sound's end, and it never closes.
    QTest::qWait(1500);
    QVERIFY(window.isPlaying());
    QVERIFY(window.positionFrames() >= 2000 && window.positionFrames() <= 3000);

    // Down by ten steps of five: a quarter of the amplitude.
    for (int i = 0; i < 10; ++i) QTest::keyClick(parts.waveform, Qt::Key_Minus);
    QCOMPARE(window.volume(), 50);
    QCOMPARE(slider->value(), 50);
    QTest::qWait(400);
    // Never above unity, however often + is pressed.
    for (int i = 0; i < 30; ++i) QTest::keyClick(parts.waveform, Qt::Key_Plus);
    QCOMPARE(window.volume(), 100);
    QTest::qWait(400);
    QTest::keyClick(parts.waveform, Qt::Key_Home);
    QVERIFY(window.positionFrames() < 2000);
    QTest::qWait(300);
    window.setVolume(35);
    QTest::keyClick(parts.waveform, Qt::Key_Escape);

    const QVector<float> played = readPlayed(output());
    QVERIFY(!played.isEmpty());
    // The region's end leads straight back to its start, at both gains.
    const float quarter = kalvero::player::gainForLevel(50);
    QCOMPARE(quarter, 0.25f);
    bool wrapped = false;
    bool wrappedQuieter = false;
    for (qsizetype i = 0; i + 1 < played.size(); ++i) {
        wrapped |= played[i] == ramp(2999) && played[i + 1] == ramp(2000);
        wrappedQuieter |=
            played[i] == ramp(2999) * quarter && played[i + 1] == ramp(2000) * quarter;
        // Nothing after the region was played, and nothing louder than the sound.
        QVERIFY2(played[i] <= ramp(2999), qPrintable(QString::number(i)));
    }
    QVERIFY(wrapped);
    QVERIFY(wrappedQuieter);
    // Home went to the start: the frames before the region came again.
    QVERIFY(played.lastIndexOf(ramp(10)) > played.indexOf(ramp(2999) * quarter));

    // The volume is kept for the next player.
    PlayerWindow next(QFile::encodeName(path));
    QCOMPARE(next.volume(), 35);
}

void PlayerWindowTest::regionBecomesAFile_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("24-bit stereo, accents and Cyrillic")
        << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2 << 44100
        << QStringLiteral("Door slam 'ü' ёж.wav");
    QTest::newRow("16-bit mono, quotes and ::") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1 << 44100
                                                << QStringLiteral("it's \"a\" a::b 100%_.wav");
    QTest::newRow("float, CJK") << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 2 << 44100
                                << QStringLiteral("音声 🎵.wav");
    QTest::newRow("8-bit") << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 1 << 44100
                           << QStringLiteral("eight.wav");
    QTest::newRow("mu-law") << (SF_FORMAT_WAV | SF_FORMAT_ULAW) << 1 << 44100
                            << QStringLiteral("law.wav");
}

void PlayerWindowTest::regionBecomesAFile() {
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    QCOMPARE(kalvero::test::writeSine(path, {format, channels, rate, rate * 2}), QString());

    PlayerWindow window(QFile::encodeName(path));
    window.show();
    window.start();
    QString error;
    // No region: the whole file, as the list offers it.
    std::unique_ptr<QMimeData> whole(window.dragData(error));
    QVERIFY2(whole, qPrintable(error));
    QCOMPARE(whole->urls(), QList<QUrl>{QUrl::fromLocalFile(path)});

    window.setRegion({rate / 2, rate * 5 / 4});
    std::unique_ptr<QMimeData> mime(window.dragData(error));
    QVERIFY2(mime, qPrintable(error));
    QVERIFY(mime->hasFormat(QStringLiteral("text/uri-list")));
    QCOMPARE(mime->urls().size(), 1);
    const QString region = mime->urls().at(0).toLocalFile();
    QCOMPARE(QFileInfo(region).fileName(),
             QFileInfo(fileName).completeBaseName() + QStringLiteral(" 0.50-1.25.wav"));
    QVERIFY2(region.startsWith(dir_.filePath(QStringLiteral("cache"))), qPrintable(region));
    window.stop();

    // The region's frames, byte for byte as the source holds them.
    QFile sourceFile(path);
    QFile regionFile(region);
    QVERIFY(sourceFile.open(QIODevice::ReadOnly) && regionFile.open(QIODevice::ReadOnly));
    const QByteArray source = sourceFile.readAll();
    const QByteArray written = regionFile.readAll();
    QCOMPARE(riffChunk(written, "fmt "), riffChunk(source, "fmt "));
    const qsizetype frameBytes = riffChunk(source, "fmt ").mid(12, 2).at(0);
    QCOMPARE(riffChunk(written, "data"),
             riffChunk(source, "data").mid(frameBytes * rate / 2, frameBytes * rate * 3 / 4));
    // Its description names the source and the region.
    const QByteArray bext = riffChunk(written, "bext");
    QVERIFY(!bext.isEmpty());
    const QString description = QString::fromUtf8(bext.left(256)).section(QChar(0), 0, 0);
    QCOMPARE(description, QStringLiteral("Region 0.50-1.25 s of ") + path);
    QCOMPARE(qFromLittleEndian<quint32>(bext.constData() + 256 + 32 + 32 + 10 + 8),
             quint32(rate / 2));
}

void PlayerWindowTest::summaryNeverRunsOffTheWindow() {
    const QString path = dir_.filePath(QStringLiteral("wide.flac"));
    QCOMPARE(kalvero::test::writeSine(path, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 8, 192000, 1920}),
             QString());
    PlayerWindow window(QFile::encodeName(path));
    auto* summary = qobject_cast<kalvero::player::ElidedLabel*>(partsOf(window).summary);
    QVERIFY(summary);
    window.show();
    window.start();
    window.resize(window.minimumSizeHint());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(!summary->text().isEmpty());
    summary->setText(summary->text() + QStringLiteral(", ") + QString(200, QLatin1Char('x')));
    QCoreApplication::processEvents();
    QVERIFY2(window.width() < 600, qPrintable(QString::number(window.width())));
    QVERIFY(summary->geometry().right() < window.width());
    QVERIFY(summary->fontMetrics().horizontalAdvance(summary->shownText()) <=
            summary->contentsRect().width());
    QVERIFY(summary->shownText().endsWith(QChar(0x2026)));
    summary->grab();
    QCOMPARE(summary->toolTip(), summary->text());
    window.stop();
}

void PlayerWindowTest::showsWhatTheFileSays_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("comment");
    // Of a 1 kHz sine; 0 is silence.
    QTest::addColumn<double>("amplitude");
    // Whether the window played the long sound before it was handed this
    // one, which then has no frames: a loudness shown could only be the
    // long sound's.
    QTest::addColumn<bool>("switched");
    QTest::addColumn<QString>("facts");
    const QString note = QString(400, QLatin1Char('n'));
    const QString silent = QStringLiteral("\nLoudness: -inf LUFS \u00b7 Sample peak: -inf dBFS");
    QTest::newRow("tags and a UCS name")
        << QStringLiteral("DOORWood_Creak Slow_JD_MYLIB.wav") << QStringLiteral("Slow creak") << 0.0
        << false
        << QStringLiteral(
               "Old door\nSlow creak\n"
               "Category: DOORS-WOOD \u00b7 Creator: Ann Artist \u00b7 Library: Doors") +
               silent;
    QTest::newRow("a long note is shortened")
        << QStringLiteral("plain.wav") << note << 0.0 << false
        << QStringLiteral("Old door\n") + note.left(300) + QChar(0x2026) +
               QStringLiteral("\nCreator: Ann Artist \u00b7 Library: Doors") + silent;
    const QString tone = QStringLiteral(
        "Old door\n100% 'q' \u00e9\nCreator: Ann Artist \u00b7 Library: Doors\n"
        "Loudness: -23.0 LUFS \u00b7 Sample peak: -20.0 dBFS");
    QTest::newRow("a -20 dBFS sine")
        << QStringLiteral("tone.wav") << QStringLiteral("100% 'q' \u00e9") << 0.1 << false << tone;
    QTest::newRow("handed over at once")
        << QStringLiteral("after.wav") << QStringLiteral("100% 'q' \u00e9") << 0.1 << true
        << QStringLiteral("Old door\n100% 'q' \u00e9\nCreator: Ann Artist \u00b7 Library: Doors");
}

void PlayerWindowTest::showsWhatTheFileSays() {
    QFETCH(QString, fileName);
    QFETCH(QString, comment);
    QFETCH(double, amplitude);
    QFETCH(bool, switched);
    QFETCH(QString, facts);
    const QString path = dir_.filePath(fileName);
    SF_INFO info{};
    // Two seconds: loudness is gated in blocks of 400 ms.
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    QVERIFY(file);
    sf_set_string(file, SF_STR_TITLE, "Old door");
    sf_set_string(file, SF_STR_COMMENT, comment.toUtf8().constData());
    sf_set_string(file, SF_STR_ARTIST, "Ann Artist");
    sf_set_string(file, SF_STR_ALBUM, "Doors");
    std::vector<short> samples(switched ? 0 : 96000);
    for (size_t f = 0; f < samples.size(); ++f)
        samples[f] = short(std::lround(amplitude * 32768 *
                                       std::sin(2 * std::numbers::pi * 1000 * double(f) / 48000)));
    sf_writef_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);

    PlayerWindow window(QFile::encodeName(switched ? longSound_ : path));
    window.show();
    window.start();
    // The long sound's scan, if it outlives the switch, is let finish.
    QPointer<kalvero::player::PeakScanner> before =
        window.findChild<kalvero::player::PeakScanner*>();
    std::optional<QSignalSpy> scanned;
    if (switched) {
        scanned.emplace(before.data(), &kalvero::player::PeakScanner::finished);
        window.playFile(QFile::encodeName(path));
    }
    const QLabel* line = window.findChild<QLabel*>(QStringLiteral("factsLabel"));
    QVERIFY(line);
    QTRY_COMPARE_WITH_TIMEOUT(line->text(), facts, 10000);
    QVERIFY(!line->isHidden());
    const QString summary = QStringLiteral("WAV 48000 Hz 16-bit mono ") +
                            (switched ? QStringLiteral("0:00.00") : QStringLiteral("0:02.00"));
    QCOMPARE(partsOf(window).summary->text(), summary);
    // Whatever was still being read about the sound before has ended unheard.
    if (switched) QTRY_VERIFY_WITH_TIMEOUT(!before || scanned->count() > 0, 10000);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(line->text(), facts);
    QCOMPARE(partsOf(window).summary->text(), summary);
    window.stop();
}

QTEST_MAIN(PlayerWindowTest)
#include "tst_playerwindow.moc"
