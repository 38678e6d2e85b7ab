// The player's command line as the launcher builds it, and the player's
// reading of its one argument. Nothing is started here.

#include "playback/player/playerarguments.h"
#include "playback/playercommand.h"

#include <QtTest>
#include <vector>

using namespace kalvero;

namespace {
const QString kToken = QStringLiteral("tzobrahuxelivmcg");
}

class PlayerCommandTest : public QObject {
    Q_OBJECT
private slots:
    void buildsTheCommand_data();
    void buildsTheCommand();
    void playerAcceptsWhatTheLauncherBuilds_data();
    void playerAcceptsWhatTheLauncherBuilds();
    void playerRefusesOtherArguments_data();
    void playerRefusesOtherArguments();
};

void PlayerCommandTest::buildsTheCommand_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");

    QTest::newRow("plain path") << QStringLiteral("/opt/kalvero")
                                << QStringLiteral("/home/ann/sounds/bell.wav")
                                << QStringLiteral("/opt/kalvero/KZW4")
                                << QStringLiteral("/home/ann/sounds/bell.wav::tzobrahuxelivmcg");
    QTest::newRow("folder with a trailing slash")
        << QStringLiteral("/opt/kalvero/") << QStringLiteral("/s/a.wav")
        << QStringLiteral("/opt/kalvero/KZW4") << QStringLiteral("/s/a.wav::tzobrahuxelivmcg");
    QTest::newRow("blanks in folder and path")
        << QStringLiteral("/home/ann/My Programs/Kalvero 2")
        << QStringLiteral("/home/ann/My Sounds/dog bark.wav")
        << QStringLiteral("/home/ann/My Programs/Kalvero 2/KZW4")
        << QStringLiteral("/home/ann/My Sounds/dog bark.wav::tzobrahuxelivmcg");
    QTest::newRow("leading and trailing blanks kept")
        << QStringLiteral("/p") << QStringLiteral("  /s/a.wav  ") << QStringLiteral("/p/KZW4")
        << QStringLiteral("  /s/a.wav  ::tzobrahuxelivmcg");
    QTest::newRow("\"::\" in the path")
        << QStringLiteral("/p::q") << QStringLiteral("/s/a::b.wav") << QStringLiteral("/p::q/KZW4")
        << QStringLiteral("/s/a::b.wav::tzobrahuxelivmcg");
    QTest::newRow("quotes") << QStringLiteral("/it's \"here\"")
                            << QStringLiteral("/s/it's \"loud\".wav")
                            << QStringLiteral("/it's \"here\"/KZW4")
                            << QStringLiteral("/s/it's \"loud\".wav::tzobrahuxelivmcg");
    QTest::newRow("shell characters")
        << QStringLiteral("/p") << QStringLiteral("/s/$(rm -rf x); `y` & z | 100% _ *.wav")
        << QStringLiteral("/p/KZW4")
        << QStringLiteral("/s/$(rm -rf x); `y` & z | 100% _ *.wav::tzobrahuxelivmcg");
    QTest::newRow("accents and Cyrillic")
        << QStringLiteral("/home/zoë/Программы") << QStringLiteral("/звуки/Äpfel café.flac")
        << QStringLiteral("/home/zoë/Программы/KZW4")
        << QStringLiteral("/звуки/Äpfel café.flac::tzobrahuxelivmcg");
    QTest::newRow("CJK and emoji")
        << QStringLiteral("/音楽") << QStringLiteral("/音声/🎵 鐘.ogg")
        << QStringLiteral("/音楽/KZW4") << QStringLiteral("/音声/🎵 鐘.ogg::tzobrahuxelivmcg");
    QTest::newRow("Windows-style path")
        << QStringLiteral("/p") << QStringLiteral("D:\\Sounds\\bell.wav")
        << QStringLiteral("/p/KZW4") << QStringLiteral("D:\\Sounds\\bell.wav::tzobrahuxelivmcg");
    QTest::newRow("empty path") << QStringLiteral("/p") << QString() << QStringLiteral("/p/KZW4")
                                << QStringLiteral("::tzobrahuxelivmcg");
    const QString huge(100000, QChar(u'я'));
    QTest::newRow("huge path") << QStringLiteral("/p") << huge << QStringLiteral("/p/KZW4")
                               << huge + QStringLiteral("::tzobrahuxelivmcg");
}

void PlayerCommandTest::buildsTheCommand() {
    QFETCH(QString, folder);
    QFETCH(QString, filePath);
    QFETCH(QString, program);
    QFETCH(QString, argument);
    const playback::PlayerCommand command = playback::playerCommand(folder, filePath);
    QCOMPARE(command.program, program);
    QCOMPARE(command.arguments, QStringList{argument});
}

void PlayerCommandTest::playerAcceptsWhatTheLauncherBuilds_data() {
    QTest::addColumn<QString>("filePath");
    QTest::newRow("plain") << QStringLiteral("/s/bell.wav");
    QTest::newRow("one \"::\"") << QStringLiteral("/s/a::b.wav");
    QTest::newRow("path ends in \"::\"") << QStringLiteral("/s/a::");
    QTest::newRow("only \"::\"") << QStringLiteral("::");
    QTest::newRow("colons") << QStringLiteral(":::::");
    QTest::newRow("quotes and blanks") << QStringLiteral(" '\"a b\"' ");
    QTest::newRow("CJK, emoji, Cyrillic") << QStringLiteral("/音声/🎵::ёж.wav");
    QTest::newRow("empty") << QString();
}

void PlayerCommandTest::playerAcceptsWhatTheLauncherBuilds() {
    QFETCH(QString, filePath);
    const QByteArray argument =
        playback::playerCommand(QStringLiteral("/p"), filePath).arguments.at(0).toUtf8();
    const char* argv[] = {"KZW4", argument.constData(), nullptr};
    const player::PlayerArguments checked = player::checkPlayerArguments(2, argv);
    QVERIFY(checked.accepted);
    QVERIFY(checked.refusal.isEmpty());
    QCOMPARE(checked.nativePath, filePath.toUtf8());
    QCOMPARE(checked.displayPath(), filePath);
}

void PlayerCommandTest::playerRefusesOtherArguments_data() {
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::newRow("none") << QList<QByteArray>{};
    QTest::newRow("empty") << QList<QByteArray>{""};
    QTest::newRow("no separator") << QList<QByteArray>{"/s/bell.wav"};
    QTest::newRow("no token") << QList<QByteArray>{"/s/bell.wav::"};
    QTest::newRow("wrong token") << QList<QByteArray>{"/s/bell.wav::tzobrahuxelivmch"};
    QTest::newRow("token in capitals") << QList<QByteArray>{"/s/bell.wav::TZOBRAHUXELIVMCG"};
    QTest::newRow("token then blank") << QList<QByteArray>{"/s/bell.wav::tzobrahuxelivmcg "};
    QTest::newRow("token then newline") << QList<QByteArray>{"/s/bell.wav::tzobrahuxelivmcg\n"};
    QTest::newRow("token not last") << QList<QByteArray>{"/s/a::tzobrahuxelivmcg::b.wav"};
    QTest::newRow("token twice") << QList<QByteArray>{"/s/a::tzobrahuxelivmcgtzobrahuxelivmcg"};
    QTest::newRow("two arguments")
        << QList<QByteArray>{"/s/bell.wav::tzobrahuxelivmcg", "/s/bell.wav::tzobrahuxelivmcg"};
    QTest::newRow("split at the separator")
        << QList<QByteArray>{"/s/bell.wav::", "tzobrahuxelivmcg"};
}

void PlayerCommandTest::playerRefusesOtherArguments() {
    QFETCH(QList<QByteArray>, arguments);
    std::vector<const char*> argv{"KZW4"};
    for (const QByteArray& a : arguments) argv.push_back(a.constData());
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    const player::PlayerArguments checked = player::checkPlayerArguments(argc, argv.data());
    QVERIFY(!checked.accepted);
    QVERIFY(checked.nativePath.isEmpty());
    QVERIFY(checked.refusal.startsWith(QLatin1String("KZW4: ")));
    QVERIFY(!checked.refusal.contains(QLatin1Char('\n')));
}

QTEST_APPLESS_MAIN(PlayerCommandTest)
#include "tst_playercommand.moc"
