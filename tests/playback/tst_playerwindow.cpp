// The player's window in this process, with SDL writing its output to a
// file: what it shows, how it ends by itself, how the user stops it, and how
// it tells why a file cannot be played.

#include "playback/player/playerwindow.h"
#include "soundfixtures.h"

#include <sndfile.h>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using kalvero::player::ExitCode;
using kalvero::player::PlayerWindow;

Q_DECLARE_METATYPE(ExitCode)

namespace {

struct Parts {
    QLabel* fileName;
    QProgressBar* position;
    QLabel* message;
    QPushButton* stop;
};

Parts partsOf(const PlayerWindow& window) {
    return {window.findChild<QLabel*>(QStringLiteral("fileNameLabel")),
            window.findChild<QProgressBar*>(QStringLiteral("positionBar")),
            window.findChild<QLabel*>(QStringLiteral("messageLabel")),
            window.findChild<QPushButton*>(QStringLiteral("stopButton"))};
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
    void showsWhyItCannotPlay_data();
    void showsWhyItCannotPlay();
    void closesOnFailureWhenAsked();

private:
    QString output() const { return dir_.filePath(QStringLiteral("played.raw")); }
    qint64 outputFrames() const { return QFileInfo(output()).size() / qint64(sizeof(float)); }

    QTemporaryDir dir_;
    QString longSound_;
    qint64 longFrames_ = 0;
};

void PlayerWindowTest::initTestCase() {
    QVERIFY(dir_.isValid());
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
    QVERIFY(parts.fileName && parts.position && parts.message && parts.stop);
    window.show();
    window.start();
    QVERIFY(window.isWindow());
    QVERIFY(window.windowTitle().contains(fileName));
    QCOMPARE(parts.fileName->text(), fileName);
    QCOMPARE(parts.fileName->toolTip(), path);
    QCOMPARE(parts.stop->text(), QStringLiteral("Stop"));
    QCOMPARE(window.focusWidget(), parts.stop);
    QVERIFY(parts.position->isVisible());
    QVERIFY(!parts.message->isVisible());
    QVERIFY(window.isPlaying());

    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QVERIFY(!window.isPlaying());
    QCOMPARE(window.exitCode(), ExitCode::Played);
    QCOMPARE(failures.count(), 0);
    QCOMPARE(window.failureText(), QString());
    QCOMPARE(parts.position->value(), parts.position->maximum());
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
    QTest::newRow("Space on the window") << QStringLiteral("space-window");
    QTest::newRow("Space on the button") << QStringLiteral("space-button");
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
    QTRY_VERIFY_WITH_TIMEOUT(parts.position->value() > 0, 20000);

    if (how == QLatin1String("esc-window")) QTest::keyClick(&window, Qt::Key_Escape);
    if (how == QLatin1String("esc-button")) QTest::keyClick(parts.stop, Qt::Key_Escape);
    if (how == QLatin1String("space-window")) QTest::keyClick(&window, Qt::Key_Space);
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
    QVERIFY(!parts.position->isVisible());
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

QTEST_MAIN(PlayerWindowTest)
#include "tst_playerwindow.moc"
