// The per-user option store: where it lives, the exact texts it writes, what
// it makes of values it did not write, and stores that cannot be read or
// written (folders, pipes, devices and immutable files where the file or its
// lock should be).

#include "prefs/options.h"
#include "testsupport.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalvero;

namespace {

const prefs::BoolOption* const kAllOptions[] = {&prefs::kOnTop, &prefs::kPlayClick,
                                                &prefs::kPlayDoubleClick, &prefs::kShowSearchBar,
                                                &prefs::kPlayOnSelection};

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

// The lines of the store's file, without blank ones.
QList<QByteArray> lines(const QString& path) {
    QList<QByteArray> out;
    for (const QByteArray& line : readBytes(path).split('\n'))
        if (!line.trimmed().isEmpty()) out << line.trimmed();
    return out;
}

QByteArray keyLine(const prefs::BoolOption& option, const char* text) {
    return QByteArray(option.key) + '=' + text;
}

// Marks a file or folder immutable for the life of the object: even root
// cannot change it then. Not every file system knows the attribute.
class ImmutableGuard {
public:
    explicit ImmutableGuard(QString path) : path_(std::move(path)) {
        applied_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~ImmutableGuard() {
        if (applied_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    }
    ImmutableGuard(const ImmutableGuard&) = delete;
    ImmutableGuard& operator=(const ImmutableGuard&) = delete;
    bool applied() const { return applied_; }

private:
    QString path_;
    bool applied_ = false;
};

// What stands in the way of the store, and how to see it is still there.
enum class Obstacle {
    FileIsFolder,
    SettingsFolderIsFile,
    LockIsFolder,
    StaleLockAndRemovalLockFolder,
    FileIsPipe,
    FileIsDevice,
    FileIsHuge,
};

}  // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void storeFollowsXdgConfigHome();
    void boolTexts_data();
    void boolTexts();
    void writeStoresExactTexts_data();
    void writeStoresExactTexts();
    void readingWritesNothing();
    void storedValues_data();
    void storedValues();
    void junkFile_data();
    void junkFile();
    void unusableStore_data();
    void unusableStore();
    void immutableStore_data();
    void immutableStore();
    void playerVolume_data();
    void playerVolume();

private:
    QTemporaryDir xdg_;
    // Seen before any test pointed the settings elsewhere.
    QString defaultFileName_;
    QList<QByteArray> defaultLinesAfterWrite_;
    bool defaultReadBack_ = false;
};

void TestOptions::initTestCase() {
    QVERIFY(xdg_.isValid());
    // Where QSettings puts per-user files is fixed on its first use; this runs
    // before any test points it at a folder of its own.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg_.path()));
    prefs::OptionStore store;
    defaultFileName_ = store.fileName();
    store.write(prefs::kOnTop, true);
    defaultLinesAfterWrite_ = lines(xdg_.filePath(QStringLiteral("Kalvero/Kalvero.conf")));
    defaultReadBack_ = prefs::OptionStore().read(prefs::kOnTop, false);
}

void TestOptions::storeFollowsXdgConfigHome() {
    QCOMPARE(defaultFileName_, xdg_.filePath(QStringLiteral("Kalvero/Kalvero.conf")));
    QCOMPARE(defaultLinesAfterWrite_,
             (QList<QByteArray>{"[Options]", keyLine(prefs::kOnTop, "True")}));
    QVERIFY(defaultReadBack_);
}

void TestOptions::boolTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // 1 true, 0 false, -1 not a Boolean

    QTest::newRow("True") << QStringLiteral("True") << 1;
    QTest::newRow("False") << QStringLiteral("False") << 0;
    QTest::newRow("yes") << QStringLiteral("yes") << -1;
    QTest::newRow("no") << QStringLiteral("no") << -1;
    QTest::newRow("1") << QStringLiteral("1") << -1;
    QTest::newRow("0") << QStringLiteral("0") << -1;
    QTest::newRow("-1") << QStringLiteral("-1") << -1;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("blank") << QStringLiteral(" ") << -1;
    QTest::newRow("padded") << QStringLiteral(" True") << -1;
    QTest::newRow("longer") << QStringLiteral("Truee") << -1;
    QTest::newRow("shorter") << QStringLiteral("Fals") << -1;
    QTest::newRow("with NUL") << (QStringLiteral("True") + QChar(u'\0')) << -1;
    QTest::newRow("quoted") << QStringLiteral("'True'") << -1;
    QTest::newRow("percent") << QStringLiteral("%") << -1;
    QTest::newRow("underscore") << QStringLiteral("Tru_") << -1;
    QTest::newRow("accented") << QStringLiteral("Trüe") << -1;
    QTest::newRow("Cyrillic") << QStringLiteral("Истина") << -1;
    QTest::newRow("CJK") << QStringLiteral("真") << -1;
    QTest::newRow("emoji") << QStringLiteral("✅") << -1;
    QTest::newRow("huge") << (QStringLiteral("True") + QString(100000, QLatin1Char('e'))) << -1;
}

void TestOptions::boolTexts() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    const std::optional<bool> parsed = prefs::parseBool(text);
    QCOMPARE(parsed.has_value(), expected >= 0);
    if (parsed) {
        QCOMPARE(*parsed, expected == 1);
        QCOMPARE(prefs::boolText(*parsed), text);
    }
}

void TestOptions::writeStoresExactTexts_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<bool>("value");
    for (int k = 0; k < int(std::size(kAllOptions)); ++k) {
        for (bool value : {true, false}) {
            QTest::addRow("%s=%s", kAllOptions[k]->key, value ? "True" : "False") << k << value;
        }
    }
}

void TestOptions::writeStoresExactTexts() {
    QFETCH(int, option);
    QFETCH(bool, value);
    const prefs::BoolOption& opt = *kAllOptions[option];
    test::IsolatedSettings settings;
    prefs::OptionStore store;
    QCOMPARE(store.fileName(), settings.configFile());

    // Each write is in the file when write() returns, replacing the last one.
    store.write(opt, !value);
    QCOMPARE(lines(settings.configFile()),
             (QList<QByteArray>{"[Options]", keyLine(opt, value ? "False" : "True")}));
    store.write(opt, value);
    QCOMPARE(lines(settings.configFile()),
             (QList<QByteArray>{"[Options]", keyLine(opt, value ? "True" : "False")}));

    // The other keys stay absent, so they keep reading their fallbacks.
    prefs::OptionStore again;
    QCOMPARE(again.read(opt, !value), value);
    for (const prefs::BoolOption* other : kAllOptions) {
        if (other == &opt) continue;
        QCOMPARE(again.read(*other, true), true);
        QCOMPARE(again.read(*other, false), false);
    }
}

void TestOptions::readingWritesNothing() {
    test::IsolatedSettings settings;
    {
        prefs::OptionStore store;
        for (const prefs::BoolOption* option : kAllOptions) {
            QCOMPARE(store.read(*option, true), true);
            QCOMPARE(store.read(*option, false), false);
        }
    }
    QVERIFY(!QFileInfo::exists(settings.configFile()));
    QVERIFY(!QFileInfo::exists(QFileInfo(settings.configFile()).path()));
}

void TestOptions::storedValues_data() {
    QTest::addColumn<QByteArray>("fileText");
    QTest::addColumn<int>("expected");  // 1 true, 0 false, -1 the fallback

    auto row = [](const char* name, const QByteArray& value, int expected) {
        QTest::newRow(name) << (QByteArray("[Options]\nPlayClickM=") + value + '\n') << expected;
    };
    row("True", "True", 1);
    row("False", "False", 0);
    row("yes", "yes", -1);
    row("1", "1", -1);
    row("0", "0", -1);
    row("empty", "", -1);
    row("binary junk", QByteArray("\x01\xff\xfe\x80True\x7f", 9), -1);
    row("NUL inside", QByteArray("Tr\0ue", 5), -1);
    row("list", "True, False", -1);
    row("single quotes", "'True'", -1);
    row("percent and underscore", "%_%", -1);
    row("accents", "Vrai é", -1);
    row("Cyrillic", "Да", -1);
    row("CJK", "真", -1);
    row("emoji", "👍", -1);
    row("huge", QByteArray("True") + QByteArray(200000, 'e'), -1);
    // The INI reader takes off the blanks around a value and its double quotes.
    row("blanks around", "   False   ", 0);
    row("double quotes", "\"False\"", 0);
    QTest::newRow("other group") << QByteArray("[Other]\nPlayClickM=False\n") << -1;
    QTest::newRow("no group") << QByteArray("PlayClickM=False\n") << -1;
    QTest::newRow("two groups") << QByteArray("[Options]\nPlayClickM=False\n[Options]\n") << 0;
}

void TestOptions::storedValues() {
    QFETCH(QByteArray, fileText);
    QFETCH(int, expected);
    test::IsolatedSettings settings;
    QVERIFY(writeBytes(settings.configFile(), fileText));
    {
        prefs::OptionStore store;
        for (bool fallback : {true, false}) {
            QCOMPARE(store.read(prefs::kPlayClick, fallback),
                     expected < 0 ? fallback : expected == 1);
            QCOMPARE(store.read(prefs::kShowSearchBar, fallback), fallback);
        }
    }
    // Reading leaves the file as it was.
    QCOMPARE(readBytes(settings.configFile()), fileText);
}

void TestOptions::junkFile_data() {
    QTest::addColumn<QByteArray>("fileText");
    QByteArray random(4096, '\0');
    quint32 seed = 12345;
    for (char& c : random) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    QTest::newRow("random bytes") << random;
    QTest::newRow("only NULs") << QByteArray(1000, '\0');
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("UTF-16") << QByteArray("\xff\xfe[\0O\0p\0t\0i\0o\0n\0s\0]\0", 20);
}

void TestOptions::junkFile() {
    QFETCH(QByteArray, fileText);
    test::IsolatedSettings settings;
    QVERIFY(writeBytes(settings.configFile(), fileText));
    prefs::OptionStore store;
    for (const prefs::BoolOption* option : kAllOptions) {
        QCOMPARE(store.read(*option, true), true);
        QCOMPARE(store.read(*option, false), false);
    }
    // A write either lands or is dropped; it never fails loudly or blocks.
    store.write(prefs::kPlayClick, false);
    QVERIFY(QFileInfo(settings.configFile()).isFile());
}

void TestOptions::unusableStore_data() {
    QTest::addColumn<Obstacle>("obstacle");
    QTest::newRow("settings file is a folder") << Obstacle::FileIsFolder;
    QTest::newRow("settings folder is a file") << Obstacle::SettingsFolderIsFile;
    QTest::newRow("lock file is a folder") << Obstacle::LockIsFolder;
    QTest::newRow("stale lock, removal lock a folder") << Obstacle::StaleLockAndRemovalLockFolder;
    QTest::newRow("settings file is a pipe") << Obstacle::FileIsPipe;
    QTest::newRow("settings file is a device") << Obstacle::FileIsDevice;
    QTest::newRow("settings file is huge") << Obstacle::FileIsHuge;
}

void TestOptions::unusableStore() {
    QFETCH(Obstacle, obstacle);
    test::IsolatedSettings settings;
    const QString file = settings.configFile();
    const QString folder = QFileInfo(file).path();
    const QByteArray storedText = "[Options]\nOnTop=True\nPlayClickM=False\n";
    QVERIFY(QDir().mkpath(folder));

    QString blocked;  // the path that must look the same afterwards
    switch (obstacle) {
        case Obstacle::FileIsFolder:
            QVERIFY(QDir().mkpath(file));
            blocked = file;
            break;
        case Obstacle::SettingsFolderIsFile:
            QVERIFY(QDir(folder).removeRecursively());
            QVERIFY(writeBytes(folder, storedText));
            blocked = folder;
            break;
        case Obstacle::LockIsFolder:
            QVERIFY(writeBytes(file, storedText));
            QVERIFY(QDir().mkpath(file + QLatin1String(".lock")));
            blocked = file + QLatin1String(".lock");
            break;
        case Obstacle::StaleLockAndRemovalLockFolder:
            // A lock left by a process that is long gone, and its removal lock
            // a folder: the lock can never be taken over.
            QVERIFY(writeBytes(file, storedText));
            QVERIFY(writeBytes(file + QLatin1String(".lock"), "999999999\nkalvero\nnowhere\n"));
            QVERIFY(QDir().mkpath(file + QLatin1String(".lock.rmlock")));
            blocked = file + QLatin1String(".lock.rmlock");
            break;
        case Obstacle::FileIsPipe:
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
            blocked = file;
            break;
        case Obstacle::FileIsDevice: {
            // A link to a null device, as people do to keep a program from
            // saving settings. Replacing the link's target is what a careless
            // save does, so the device is a node of our own, never /dev/null.
            const QString node = settings.path() + QLatin1String("/null-device");
            if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("cannot make a device node here");
            QVERIFY(QFile::link(node, file));
            blocked = node;
            break;
        }
        case Obstacle::FileIsHuge:
            QVERIFY(writeBytes(file, storedText + QByteArray(2 * 1024 * 1024, ';')));
            blocked = file;
            break;
    }
    const QFileInfo before(blocked);

    // Only a blocked lock leaves the file itself readable.
    const bool readable =
        obstacle == Obstacle::LockIsFolder || obstacle == Obstacle::StaleLockAndRemovalLockFolder;
    {
        prefs::OptionStore store;
        for (bool fallback : {true, false}) {
            QCOMPARE(store.read(prefs::kOnTop, fallback), readable ? true : fallback);
            QCOMPARE(store.read(prefs::kPlayClick, fallback), readable ? false : fallback);
            QCOMPARE(store.read(prefs::kPlayDoubleClick, fallback), fallback);
            QCOMPARE(store.read(prefs::kShowSearchBar, fallback), fallback);
        }
        // Returns, without a word, and changes nothing.
        for (const prefs::BoolOption* option : kAllOptions) store.write(*option, !readable);
    }

    const QFileInfo after(blocked);
    QCOMPARE(after.isDir(), before.isDir());
    QCOMPARE(after.isFile(), before.isFile());
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.size(), before.size());
    if (obstacle == Obstacle::FileIsPipe || obstacle == Obstacle::FileIsDevice) {
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
        QVERIFY(obstacle == Obstacle::FileIsPipe ? S_ISFIFO(info.st_mode) : S_ISCHR(info.st_mode));
    }
    if (obstacle == Obstacle::LockIsFolder || obstacle == Obstacle::StaleLockAndRemovalLockFolder)
        QCOMPARE(readBytes(file), storedText);
}

void TestOptions::immutableStore_data() {
    QTest::addColumn<bool>("wholeFolder");
    QTest::newRow("read-only file") << false;
    QTest::newRow("read-only folder") << true;
}

void TestOptions::immutableStore() {
    QFETCH(bool, wholeFolder);
    test::IsolatedSettings settings;
    const QString file = settings.configFile();
    const QByteArray storedText = "[Options]\nPlayClickM=False\nShowSearchBar=True\n";
    QVERIFY(writeBytes(file, storedText));
    ImmutableGuard guard(wholeFolder ? QFileInfo(file).path() : file);
    if (!guard.applied()) QSKIP("this file system cannot make files read-only for root (chattr)");

    prefs::OptionStore store;
    // What is there still counts.
    QCOMPARE(store.read(prefs::kPlayClick, true), false);
    QCOMPARE(store.read(prefs::kShowSearchBar, false), true);
    QCOMPARE(store.read(prefs::kOnTop, false), false);
    store.write(prefs::kPlayClick, true);
    store.write(prefs::kOnTop, true);
    QCOMPARE(readBytes(file), storedText);
    const QStringList left = QDir(QFileInfo(file).path())
                                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(left, QStringList{QFileInfo(file).fileName()});
}

void TestOptions::playerVolume_data() {
    QTest::addColumn<QByteArray>("stored");  // null: no key
    QTest::addColumn<int>("expected");
    QTest::newRow("absent: unity") << QByteArray() << 100;
    QTest::newRow("silent") << QByteArray("0") << 0;
    QTest::newRow("half") << QByteArray("55") << 55;
    QTest::newRow("unity") << QByteArray("100") << 100;
    // Nothing stored can take the player above unity or below silence.
    QTest::newRow("above unity") << QByteArray("101") << 100;
    QTest::newRow("far above") << QByteArray("99999999999999999999") << 100;
    QTest::newRow("negative") << QByteArray("-5") << 100;
    QTest::newRow("plus sign") << QByteArray("+50") << 100;
    QTest::newRow("fraction") << QByteArray("50.5") << 100;
    QTest::newRow("hex") << QByteArray("0x20") << 100;
    QTest::newRow("word") << QByteArray("True") << 100;
    QTest::newRow("Arabic-Indic digits") << QByteArray("٥٠") << 100;
    QTest::newRow("full-width digits") << QByteArray("５０") << 100;
    QTest::newRow("blanks around") << QByteArray("  40  ") << 40;
}

void TestOptions::playerVolume() {
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);
    test::IsolatedSettings settings;
    if (!stored.isNull())
        QVERIFY(writeBytes(settings.configFile(),
                           "[Options]\nPlayOnSelectionM=True\nPlayerVolume=" + stored + '\n'));
    prefs::OptionStore store;
    QCOMPARE(store.read(prefs::kPlayerVolume), expected);
    QCOMPARE(store.read(prefs::kPlayOnSelection, false), !stored.isNull());

    // Writes keep to the bounds, as plain numbers beside the other options.
    for (const auto& [written, kept] : {std::pair{37, "37"}, {250, "100"}, {-3, "0"}}) {
        store.write(prefs::kPlayerVolume, written);
        QVERIFY2(lines(settings.configFile()).contains(QByteArray("PlayerVolume=") + kept), kept);
    }
    QCOMPARE(prefs::OptionStore().read(prefs::kPlayerVolume), 0);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
