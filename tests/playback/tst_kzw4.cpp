// The built player KZW4, run as a process the way the program starts it.
// SDL writes what it plays to a file (SDL_AUDIODRIVER=disk), so the tests
// compare the played samples with what libsndfile decodes from the same file.

#include "playback/launcher.h"
#include "playback/playercommand.h"
#include "playback/playerlink.h"
#include "soundfixtures.h"

#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using kalvero::test::SoundSpec;

namespace {

const QString kToken = QLatin1String(kalvero::playback::kAccessToken);

QString withToken(const QString& path) { return path + QStringLiteral("::") + kToken; }

// The players of this test keep their one-voice socket in a runtime folder
// of their own, so they never stop players that run elsewhere on the machine.
QString runtimeFolder() {
    static QTemporaryDir folder;
    return folder.path();
}

// Nor do they read the user's own volume.
QString configFolder() {
    static QTemporaryDir folder;
    return folder.path();
}

QProcessEnvironment playerEnvironment(const QString& outputFile,
                                      const QList<QPair<QString, QString>>& environment) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configFolder());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    env.insert(QStringLiteral("SDL_DISKAUDIOFILE"), outputFile);
    env.insert(QStringLiteral("KZW4_AUTOCLOSE"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
    for (const auto& [name, value] : environment) env.insert(name, value);
    return env;
}

struct PlayerRun {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString errors;
};

// Runs KZW4 with SDL's output going to `outputFile`; `environment` adds to or
// overrides the defaults. Unplayable files make the player close its window
// by itself, so every run ends without a user.
PlayerRun runPlayer(const QStringList& arguments, const QString& outputFile,
                    const QString& workingDirectory = {},
                    const QList<QPair<QString, QString>>& environment = {}) {
    QProcess process;
    process.setProcessEnvironment(playerEnvironment(outputFile, environment));
    if (!workingDirectory.isEmpty()) process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(KZW4_PATH), arguments);
    PlayerRun run;
    run.finished = process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QVector<float> readFloats(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    QVector<float> samples(bytes.size() / static_cast<qsizetype>(sizeof(float)));
    // A device that has written nothing yet leaves nothing to copy.
    if (samples.isEmpty()) return {};
    std::memcpy(samples.data(), bytes.constData(),
                static_cast<size_t>(samples.size()) * sizeof(float));
    return samples;
}

qsizetype firstSound(const QVector<float>& samples) {
    for (qsizetype i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return i;
    return -1;
}

// The device's output must be silence, then exactly the decoded samples,
// then silence. Returns what is wrong, or an empty text.
QString compareWithDecoded(const QVector<float>& played, const QVector<float>& decoded,
                           int channels) {
    const qsizetype decodedStart = firstSound(decoded);
    if (decodedStart < 0) return QStringLiteral("the file decodes to silence");
    const qsizetype playedStart = firstSound(played);
    if (playedStart < 0) return QStringLiteral("nothing but silence was played");
    const qsizetype offset = playedStart - decodedStart;
    if (offset < 0 || offset % channels != 0)
        return QStringLiteral("the sound starts at sample %1, out of step").arg(offset);
    if (played.size() < offset + decoded.size())
        return QStringLiteral("the sound was cut short: %1 of %2 samples")
            .arg(played.size() - offset)
            .arg(decoded.size());
    qsizetype mismatches = 0;
    qsizetype firstMismatch = -1;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        if (played[offset + i] != decoded[i]) {
            if (firstMismatch < 0) firstMismatch = i;
            ++mismatches;
        }
    }
    if (mismatches > 0)
        return QStringLiteral("%1 samples differ, the first at %2")
            .arg(mismatches)
            .arg(firstMismatch);
    for (qsizetype i = offset + decoded.size(); i < played.size(); ++i)
        if (played[i] != 0.0f) return QStringLiteral("sound after the end, at sample %1").arg(i);
    return {};
}

// A float WAV of one level throughout: where it plays, the device's output
// shows exactly that value.
QString writeLevel(const QString& path, float level, int frames) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return QString::fromLocal8Bit(sf_strerror(nullptr));
    const QVector<float> samples(frames, level);
    const bool whole = sf_writef_float(file, samples.constData(), frames) == frames;
    sf_close(file);
    return whole ? QString() : QStringLiteral("short write");
}

// The process ids of the players started from this build's KZW4.
QList<qint64> runningPlayers() {
    QList<qint64> found;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (pid.toLongLong() <= 0 || !cmdline.open(QIODevice::ReadOnly)) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        stat.open(QIODevice::ReadOnly);
        const QByteArray state = stat.readAll();
        if (state.contains(") Z")) continue;  // gone, not yet reaped
        if (cmdline.readAll().split('\0').value(0) == KZW4_PATH) found << pid.toLongLong();
    }
    return found;
}

}  // namespace

class Kzw4Test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playsTheDecodedSamples_data();
    void playsTheDecodedSamples();
    void reportsADecodingFaultPartWay();
    void refusesAWrongToken_data();
    void refusesAWrongToken();
    void refusesToStartWithoutADisplay_data();
    void refusesToStartWithoutADisplay();
    void reportsAFileItCannotPlay_data();
    void reportsAFileItCannotPlay();
    void reportsAMissingSoundDevice_data();
    void reportsAMissingSoundDevice();
    void dummyDeviceDiscardsTheSound();
    void oneVoiceAtATime();
    void handsTheNextSoundToTheRunningPlayer();

private:
    QTemporaryDir dir_;
    QString wav_;
};

void Kzw4Test::initTestCase() {
    QVERIFY2(QFile::exists(QStringLiteral(KZW4_PATH)), KZW4_PATH " has not been built");
    QVERIFY(dir_.isValid());
    wav_ = dir_.filePath(QStringLiteral("reference.wav"));
    QCOMPARE(kalvero::test::writeSine(wav_, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, 4410}),
             QString());
}

void Kzw4Test::playsTheDecodedSamples_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("relative");

    const int wav = SF_FORMAT_WAV;
    QTest::newRow("WAV 16-bit PCM, stereo")
        << (wav | SF_FORMAT_PCM_16) << 2 << 22050 << QStringLiteral("plain.wav") << false;
    QTest::newRow("WAV 24-bit PCM, mono, blanks and quotes")
        << (wav | SF_FORMAT_PCM_24) << 1 << 44100
        << QStringLiteral("a name with blanks, 'single' and \"double\" quotes.wav") << false;
    QTest::newRow("WAV float, % and _") << (wav | SF_FORMAT_FLOAT) << 2 << 48000
                                        << QStringLiteral("100% _under_ score.wav") << false;
    QTest::newRow("WAV mu-law, accents and Cyrillic")
        << (wav | SF_FORMAT_ULAW) << 1 << 8000 << QStringLiteral("Ünïcødé ёжик.wav") << false;
    QTest::newRow("WAV IMA ADPCM, CJK and emoji")
        << (wav | SF_FORMAT_IMA_ADPCM) << 2 << 22050 << QStringLiteral("音声 🎵.wav") << false;
    QTest::newRow("WAV MS ADPCM") << (wav | SF_FORMAT_MS_ADPCM) << 1 << 11025
                                  << QStringLiteral("ms.wav") << false;
    QTest::newRow("AIFF, \"::\" in the name") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 2 << 22050
                                              << QStringLiteral("a::b::c.aiff") << false;
    QTest::newRow("AU mu-law") << (SF_FORMAT_AU | SF_FORMAT_ULAW) << 1 << 8000
                               << QStringLiteral("bell.au") << false;
    QTest::newRow("FLAC") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << 44100
                          << QStringLiteral("tone.flac") << false;
    QTest::newRow("Ogg Vorbis") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 2 << 44100
                                << QStringLiteral("tone.ogg") << false;
    QTest::newRow("MP3") << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 2 << 44100
                         << QStringLiteral("tone.mp3") << false;
    // Qt would take this argument for one of its own options if it saw it.
    QTest::newRow("relative name that looks like a Qt option")
        << (wav | SF_FORMAT_PCM_16) << 1 << 22050 << QStringLiteral("-style=fusion") << true;
}

void Kzw4Test::playsTheDecodedSamples() {
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(QString, fileName);
    QFETCH(bool, relative);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(fileName);
    bool unsupported = false;
    const QString written = kalvero::test::writeSine(
        path, {format, channels, sampleRate, sampleRate / 5}, &unsupported);
    if (unsupported) QSKIP(qPrintable(QStringLiteral("cannot generate the file: ") + written));
    QVERIFY2(written.isEmpty(), qPrintable(written));

    int decodedChannels = 0;
    const QVector<float> decoded = kalvero::test::decodeAll(path, &decodedChannels);
    QCOMPARE(decodedChannels, channels);
    // The generated sine (RMS 0.5/sqrt 2) survives even the lossy formats.
    QVERIFY2(std::abs(kalvero::test::rootMeanSquare(decoded) - 0.3536) < 0.07,
             qPrintable(QString::number(kalvero::test::rootMeanSquare(decoded))));

    const QString output = dir.filePath(QStringLiteral("played.raw"));
    const PlayerRun run = runPlayer({withToken(relative ? fileName : path)}, output,
                                    relative ? dir.path() : QString());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QVERIFY2(!run.errors.contains(QLatin1String("KZW4:")), qPrintable(run.errors));

    const QString mismatch = compareWithDecoded(readFloats(output), decoded, channels);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void Kzw4Test::reportsADecodingFaultPartWay() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString whole = dir.filePath(QStringLiteral("whole.flac"));
    QCOMPARE(kalvero::test::writeSine(whole, {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 22050}),
             QString());
    // The first half of the file: its header is intact, its frames stop mid-stream.
    const QString path = dir.filePath(QStringLiteral("cut short 'ü'.flac"));
    {
        QFile in(whole);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        const QByteArray bytes = in.readAll();
        out.write(bytes.left(bytes.size() / 2));
    }
    const QVector<float> decoded = kalvero::test::decodeAll(path);
    QVERIFY(!decoded.isEmpty());

    const QString output = dir.filePath(QStringLiteral("played.raw"));
    const PlayerRun run = runPlayer({withToken(path)}, output);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QString expected =
        QStringLiteral(
            "The sound file \"%1\" could not be played to the end: decoding failed "
            "part way (")
            .arg(path);
    QVERIFY2(run.errors.contains(expected), qPrintable(run.errors));
    // What could be decoded was played.
    const QString mismatch = compareWithDecoded(readFloats(output), decoded, 2);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void Kzw4Test::refusesAWrongToken_data() {
    QTest::addColumn<QStringList>("arguments");
    const QString path = dir_.filePath(QStringLiteral("reference.wav"));
    QTest::newRow("no argument") << QStringList{};
    QTest::newRow("empty argument") << QStringList{QString()};
    QTest::newRow("path alone") << QStringList{path};
    QTest::newRow("separator without token") << QStringList{path + QStringLiteral("::")};
    QTest::newRow("wrong token") << QStringList{path + QStringLiteral("::tzobrahuxelivmcx")};
    QTest::newRow("token in upper case")
        << QStringList{path + QStringLiteral("::") + kToken.toUpper()};
    QTest::newRow("token and a blank") << QStringList{withToken(path) + QLatin1Char(' ')};
    QTest::newRow("token not after the last separator")
        << QStringList{withToken(path) + QStringLiteral("::")};
    QTest::newRow("token first") << QStringList{kToken + QStringLiteral("::") + path};
    QTest::newRow("single colon") << QStringList{path + QLatin1Char(':') + kToken};
    QTest::newRow("token only half") << QStringList{path + QStringLiteral("::tzobrahu")};
    QTest::newRow("split at the blank into two arguments")
        << QStringList{path + QStringLiteral("::"), kToken};
    QTest::newRow("right argument and one more") << QStringList{withToken(path), withToken(path)};
}

void Kzw4Test::refusesAWrongToken() {
    QFETCH(QStringList, arguments);
    const QString output = dir_.filePath(QStringLiteral("refused.raw"));
    QFile::remove(output);
    const PlayerRun run = runPlayer(arguments, output);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    // One line, and nothing from Qt: the window system was never touched.
    QVERIFY2(run.errors.endsWith(QLatin1Char('\n')), qPrintable(run.errors));
    QCOMPARE(run.errors.count(QLatin1Char('\n')), 1);
    QVERIFY(run.errors.startsWith(QLatin1String("KZW4: ")));
    QVERIFY2(!QFile::exists(output), "the sound device was opened");
}

void Kzw4Test::refusesToStartWithoutADisplay_data() {
    QTest::addColumn<QString>("platform");
    QTest::newRow("platform left to Qt") << QString();
    QTest::newRow("X11") << QStringLiteral("xcb");
    QTest::newRow("Wayland, then X11 with options") << QStringLiteral("wayland;xcb:nograb");
}

void Kzw4Test::refusesToStartWithoutADisplay() {
    QFETCH(QString, platform);
    const QString output = dir_.filePath(QStringLiteral("no display.raw"));
    // Empty counts as unset, for Qt as for the player.
    const PlayerRun run = runPlayer({withToken(wav_)}, output, {},
                                    {{QStringLiteral("QT_QPA_PLATFORM"), platform},
                                     {QStringLiteral("DISPLAY"), QString()},
                                     {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.errors.count(QLatin1Char('\n')), 1);
    QVERIFY2(run.errors.startsWith(QLatin1String("KZW4: there is no display")),
             qPrintable(run.errors));
}

void Kzw4Test::reportsAFileItCannotPlay_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");  // null: do not create
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << QStringLiteral("missing 'ü' 音.wav") << QByteArray()
                                  << QStringLiteral("the file does not exist");
    QTest::newRow("missing folder") << QStringLiteral("no such folder/bell.wav") << QByteArray()
                                    << QStringLiteral("the file does not exist");
    QTest::newRow("missing, \"::\" in the name")
        << QStringLiteral("x::y.wav") << QByteArray() << QStringLiteral("the file does not exist");
    QTest::newRow("text named .wav")
        << QStringLiteral("notes.wav") << QByteArray("These are notes, not a sound.\n")
        << QStringLiteral("it is not a sound file that KZW4 can decode");
    QTest::newRow("empty file") << QStringLiteral("empty.flac") << QByteArray("")
                                << QStringLiteral("it is not a sound file that KZW4 can decode");
    QTest::newRow("RIFF header cut short")
        << QStringLiteral("cut.wav") << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16)
        << QStringLiteral("it is not a sound file that KZW4 can decode");
    QTest::newRow("named pipe") << QStringLiteral("pipe.wav") << QByteArray("<fifo>")
                                << QStringLiteral("it is not a plain file");
    QTest::newRow("folder") << QStringLiteral("a folder.wav") << QByteArray("<dir>")
                            << QStringLiteral("it is a folder");
}

void Kzw4Test::reportsAFileItCannotPlay() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(fileName);
    if (content == "<dir>") {
        QVERIFY(QDir().mkpath(path));
    } else if (content == "<fifo>") {
        // Opened the usual way, a pipe without a writer would hold the player forever.
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    const QString output = dir.filePath(QStringLiteral("played.raw"));
    const PlayerRun run = runPlayer({withToken(path)}, output);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QString expected = QStringLiteral("The sound file \"%1\" cannot be played: ").arg(path);
    QVERIFY2(run.errors.contains(expected + reason), qPrintable(run.errors));
    QVERIFY2(!QFile::exists(output), "the sound device was opened");
}

void Kzw4Test::reportsAMissingSoundDevice_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("outputFile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown driver") << QStringLiteral("no-such-driver") << QString()
                                    << QStringLiteral("no sound output is available");
    QTest::newRow("disk output cannot be written")
        << QStringLiteral("disk") << QStringLiteral("no such folder/out.raw")
        << QStringLiteral("the sound device could not be opened");
}

void Kzw4Test::reportsAMissingSoundDevice() {
    QFETCH(QString, driver);
    QFETCH(QString, outputFile);
    QFETCH(QString, reason);
    const QString output =
        dir_.filePath(outputFile.isEmpty() ? QStringLiteral("device.raw") : outputFile);
    const PlayerRun run =
        runPlayer({withToken(wav_)}, output, {}, {{QStringLiteral("SDL_AUDIODRIVER"), driver}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.errors.contains(QStringLiteral("\"%1\" cannot be played: %2").arg(wav_, reason)),
             qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
}

void Kzw4Test::dummyDeviceDiscardsTheSound() {
    const QString output = dir_.filePath(QStringLiteral("dummy.raw"));
    const PlayerRun run = runPlayer({withToken(wav_)}, output, {},
                                    {{QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy")}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
}

void Kzw4Test::oneVoiceAtATime() {
    // Thirty seconds: no player here ends by itself during the test.
    const QString longSound = dir_.filePath(QStringLiteral("long 'voice' ü.wav"));
    QCOMPARE(
        kalvero::test::writeSine(longSound, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 240000}),
        QString());
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QList<QPair<QString, QString>> env{
        {QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy")},
        {QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()}};
    const QString socket = runtime.filePath(QStringLiteral("KZW4-voice-%1").arg(::getuid()));
    const QString output = dir_.filePath(QStringLiteral("voice.raw"));
    auto start = [&](const QString& path) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(playerEnvironment(output, env));
        process->start(QStringLiteral(KZW4_PATH), {withToken(path)});
        return process;
    };
    auto first = start(longSound);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
    // A refused start touches nothing: the first player goes on.
    QCOMPARE(runPlayer({longSound + QStringLiteral("::wrong")}, output, {}, env).exitCode, 2);
    QCOMPARE(first->state(), QProcess::Running);

    QElapsedTimer timer;
    timer.start();
    auto second = start(longSound);
    QVERIFY(first->waitForFinished(10000));
    qInfo("the first player ended %lld ms after the second was started", timer.elapsed());
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QTest::qWait(300);
    QCOMPARE(second->state(), QProcess::Running);

    // Killed, the second leaves its socket behind; the next player is not held up by it.
    second->kill();
    QVERIFY(second->waitForFinished(10000));
    QVERIFY(QFileInfo::exists(socket));
    const PlayerRun third = runPlayer({withToken(wav_)}, output, {}, env);
    QVERIFY(third.finished);
    QVERIFY2(third.exitCode == 0, qPrintable(third.errors));
    // It played to the end and took its socket with it.
    QVERIFY(!QFileInfo::exists(socket));
}

void Kzw4Test::handsTheNextSoundToTheRunningPlayer() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A minute each, so none ends by itself; a line break in a name is fine on a
    // command line and must survive the socket too.
    const QString first = dir.filePath(QStringLiteral("first 'ü'.wav"));
    const QString second = dir.filePath(QStringLiteral("second\n\"ёж\" ::x.wav"));
    const QString third = dir.filePath(QStringLiteral("third 音.wav"));
    QCOMPARE(writeLevel(first, 0.25f, 480000), QString());
    QCOMPARE(writeLevel(second, 0.5f, 480000), QString());
    QCOMPARE(writeLevel(third, 0.75f, 480000), QString());
    const QString skipped = dir.filePath(QStringLiteral("skipped.wav"));
    QCOMPARE(writeLevel(skipped, 0.125f, 480000), QString());
    const QString output = dir.filePath(QStringLiteral("played.raw"));
    // The launcher starts players with this process's environment.
    const QProcessEnvironment env = playerEnvironment(output, {});
    for (const QString& name : env.keys()) qputenv(qPrintable(name), env.value(name).toUtf8());
    QVERIFY(runningPlayers().isEmpty());

    const QString folder = QFileInfo(QStringLiteral(KZW4_PATH)).path();
    const kalvero::playback::Launcher launcher;
    auto heard = [&] { return readFloats(output); };
    launcher.play(folder, first);
    QTRY_VERIFY_WITH_TIMEOUT(heard().contains(0.25f), 20000);
    const QList<qint64> players = runningPlayers();
    QCOMPARE(players.size(), 1);

    // The running player switches; no process is started.
    launcher.play(folder, second);
    QTRY_VERIFY_WITH_TIMEOUT(heard().contains(0.5f), 10000);
    QCOMPARE(runningPlayers(), players);
    QVERIFY(heard().indexOf(0.5f) > heard().lastIndexOf(0.25f));

    // Asked for faster than the player answers: the first goes at once, the
    // newest after it, and what came between is never played.
    launcher.play(folder, first);
    launcher.play(folder, skipped);
    launcher.play(folder, third);
    QTRY_VERIFY_WITH_TIMEOUT(heard().contains(0.75f), 10000);
    QTest::qWait(300);
    QVERIFY(heard().indexOf(0.75f) > heard().lastIndexOf(0.5f));
    QVERIFY(heard().lastIndexOf(0.25f) < heard().indexOf(0.75f));
    QVERIFY(!heard().contains(0.125f));
    QCOMPARE(runningPlayers(), players);

    // A player that does not answer is replaced, and the new one plays.
    QCOMPARE(::kill(pid_t(players.at(0)), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    launcher.play(folder, second);
    QTRY_COMPARE_WITH_TIMEOUT(runningPlayers().size(), 2, 10000);
    QVERIFY2(timer.elapsed() >= kalvero::playback::PlayerLink::kAnswerMilliseconds,
             qPrintable(QString::number(timer.elapsed())));
    qint64 replacement = 0;
    for (qint64 pid : runningPlayers())
        if (pid != players.at(0)) replacement = pid;
    // It truncated the output when it opened its device.
    QTRY_VERIFY_WITH_TIMEOUT(heard().contains(0.5f) && !heard().contains(0.75f), 20000);
    ::kill(pid_t(players.at(0)), SIGKILL);
    ::kill(pid_t(replacement), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(runningPlayers().isEmpty(), 10000);
}

QTEST_GUILESS_MAIN(Kzw4Test)
#include "tst_kzw4.moc"
