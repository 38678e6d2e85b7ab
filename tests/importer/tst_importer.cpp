// The folder walk's rules, what sound files say, skipping what is stored,
// a kill during an import, the command-line tool's exit status, and the
// window's Import Folder and drops.

#include "importer/folderimport.h"
#include "importer/soundwalk.h"
#include "testsupport.h"
#include "window/form1.h"
#include "window/listview1.h"

#include <sndfile.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QAction>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

using namespace kalvero;
using namespace Qt::StringLiterals;
using test::Entry;

namespace {

void writeTinyWav(const QString& path);

// Builds a tree from items: "a/b.wav" a tiny WAV, "a/c.wav!" text under that
// name, "d/" a folder, "name->target" a link.
void makeTree(const QString& root, const QStringList& items) {
    for (const QString& item : items) {
        const qsizetype arrow = item.indexOf(QStringLiteral("->"));
        QString path = root + QLatin1Char('/') + (arrow < 0 ? item : item.left(arrow));
        QDir().mkpath(QFileInfo(path).path());
        if (arrow >= 0) {
            QVERIFY(QFile::link(item.mid(arrow + 2), path));
        } else if (item.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(path));
        } else if (item.endsWith(QLatin1Char('!'))) {
            path.chop(1);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a sound");
        } else {
            writeTinyWav(path);
        }
    }
}

struct WalkOutcome {
    QStringList found;
    importer::WalkCounts counts;
};

WalkOutcome walkTree(const QString& root, const QString& removeOnFirst) {
    WalkOutcome out;
    bool first = true;
    importer::walkSoundFiles({root}, out.counts, [&](const QByteArray& path) {
        if (first && !removeOnFirst.isEmpty())
            QDir(root + QLatin1Char('/') + removeOnFirst).removeRecursively();
        first = false;
        out.found << QFile::decodeName(path).mid(root.size() + 1);
        return true;
    });
    return out;
}

// Root reads every folder whatever its mode: the walk then runs in a child as nobody.
WalkOutcome walkTreeUnprivileged(const QString& root) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const WalkOutcome out = walkTree(root, QString());
        const QByteArray text = QByteArray::number(out.counts.unreadableFolders) + ' ' +
                                QByteArray::number(out.counts.vanished) + '\n' +
                                out.found.join(QLatin1Char('\n')).toUtf8();
        if (write(fds[1], text.constData(), size_t(text.size())) < 0) _exit(4);
        _exit(0);
    }
    close(fds[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    WalkOutcome out;
    const QList<QByteArray> lines = text.split('\n');
    const QList<QByteArray> counts = lines.value(0).split(' ');
    out.counts.unreadableFolders = counts.value(0).toLongLong();
    out.counts.vanished = counts.value(1).toLongLong();
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty()) out.found << QString::fromUtf8(lines[i]);
    return out;
}

struct Tags {
    QByteArray title;
    QByteArray comment;
    QByteArray bext;
};

void writeSound(const QString& path, int format, int channels, int rate, int frames,
                const Tags& tags) {
    QDir().mkpath(QFileInfo(path).path());
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    QVERIFY2(f, sf_strerror(nullptr));
    if (!tags.bext.isEmpty()) {
        SF_BROADCAST_INFO bext{};
        qstrncpy(bext.description, tags.bext.constData(), sizeof bext.description);
        QVERIFY(sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE);
    }
    if (!tags.title.isEmpty()) sf_set_string(f, SF_STR_TITLE, tags.title.constData());
    if (!tags.comment.isEmpty()) sf_set_string(f, SF_STR_COMMENT, tags.comment.constData());
    std::vector<short> samples(size_t(frames * channels), 1000);
    sf_writef_short(f, samples.data(), frames);
    sf_close(f);
}

// A real WAV of a few samples, written directly: thousands are made in a blink.
void writeTinyWav(const QString& path) {
    QByteArray wav(
        "RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0"
        "data\x08\0\0\0\x01\0\x02\0\x03\0\x04\0",
        52);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(wav);
}

int runCli(const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
    QProcess cli;
    cli.start(QStringLiteral(KALVERO_CLI), args);
    cli.waitForFinished(60000);
    if (out) *out = QString::fromUtf8(cli.readAllStandardOutput());
    if (err) *err = QString::fromUtf8(cli.readAllStandardError());
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

}  // namespace

class TestImporter : public QObject {
    Q_OBJECT

private slots:
    void walkRules_data();
    void walkRules();
    void metadata_data();
    void metadata();
    void secondImportAndLetterCase();
    void killDuringImport();
    void waitsForAnotherProgramsLock();
    void cliExitCodes_data();
    void cliExitCodes();
    void windowImport_data();
    void windowImport();
};

void TestImporter::walkRules_data() {
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("lock");
    QTest::addColumn<QString>("removeOnFirst");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("unreadableFolders");
    QTest::addColumn<int>("vanished");
    QTest::addColumn<int>("brokenLinks");
    QTest::newRow("extensions, case ignored")
        << QStringList{u"a.wav"_s,     u"b.WAV"_s, u"c.Flac"_s, u"d.mp3"_s,  u"e.txt"_s,
                       u"f.wav.bak"_s, u"wav"_s,   u"h.AiFc"_s, u"i.opus"_s, u"j.rf64"_s,
                       u"k.caf."_s,    u"l.Bwf"_s, u"m.oga"_s,  u"n.W64"_s}
        << QString() << QString()
        << QStringList{u"a.wav"_s,  u"b.WAV"_s,  u"c.Flac"_s, u"d.mp3"_s, u"h.AiFc"_s,
                       u"i.opus"_s, u"j.rf64"_s, u"l.Bwf"_s,  u"m.oga"_s, u"n.W64"_s}
        << 0 << 0 << 0;
    QTest::newRow("hidden files and folders")
        << QStringList{u".h.wav"_s, u".d/x.wav"_s, u"s/.y.wav"_s, u"s/z.wav"_s, u"s/.t/u.wav"_s}
        << QString() << QString() << QStringList{u"s/z.wav"_s} << 0 << 0 << 0;
    QTest::newRow("link loops and a folder reached twice")
        << QStringList{u"a/x.wav"_s, u"a/up->.."_s, u"a/self->."_s, u"b->a"_s,
                       u"c/l.wav->../a/x.wav"_s}
        << QString() << QString() << QStringList{u"a/x.wav"_s} << 0 << 0 << 0;
    QTest::newRow("unreadable folder")
        << QStringList{u"ok.wav"_s, u"locked/y.wav"_s} << QStringLiteral("locked") << QString()
        << QStringList{u"ok.wav"_s} << 1 << 0 << 0;
    QTest::newRow("folder vanishes during the walk, a link leads nowhere")
        << QStringList{u"a.wav"_s, u"b/c.wav"_s, u"gone.wav->nowhere.wav"_s} << QString()
        << QStringLiteral("b") << QStringList{u"a.wav"_s} << 0 << 1 << 1;
    QTest::newRow("paths differing in letter case, accents, quotes")
        << QStringList{u"A.wav"_s, u"a.wav"_s, u"É/ü'\"%_.wav"_s, u"é/x.wav"_s} << QString()
        << QString() << QStringList{u"A.wav"_s, u"a.wav"_s, u"É/ü'\"%_.wav"_s, u"é/x.wav"_s} << 0
        << 0 << 0;
    // Sorted first, the links would give Tagged's sounds their own paths and category.
    QTest::newRow("links into the walked tree left to the real folder")
        << QStringList{u"Links/tagged_link->../Tagged"_s,
                       u"Links/l.wav->../Tagged/x.wav"_s,
                       u"Links/h->../.hid"_s,
                       u".hid/z.wav"_s,
                       u"Tagged/x.wav"_s,
                       u"Tagged/y.wav"_s}
        << QString() << QString()
        << QStringList{u"Links/h/z.wav"_s, u"Tagged/x.wav"_s, u"Tagged/y.wav"_s} << 0 << 0 << 0;
    QTest::newRow("dangling links and link loops")
        << QStringList{u"a.wav"_s,          u"gone.wav->nowhere.wav"_s, u"Gone->nowhere"_s,
                       u"l1.wav->l2.wav"_s, u"l2.wav->l1.wav"_s,        u"loop->loop"_s}
        << QString() << QString() << QStringList{u"a.wav"_s} << 0 << 0 << 5;
}

void TestImporter::walkRules() {
    QFETCH(QStringList, tree);
    QFETCH(QString, lock);
    QFETCH(QString, removeOnFirst);
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    makeTree(dir.path(), tree);
    WalkOutcome out;
    if (!lock.isEmpty()) {
        QVERIFY(chmod(QFile::encodeName(dir.filePath(lock)).constData(), 0) == 0);
        out = geteuid() == 0 ? walkTreeUnprivileged(dir.path()) : walkTree(dir.path(), QString());
        chmod(QFile::encodeName(dir.filePath(lock)).constData(), 0755);
    } else {
        out = walkTree(dir.path(), removeOnFirst);
    }
    QFETCH(QStringList, expected);
    QFETCH(int, unreadableFolders);
    QFETCH(int, vanished);
    QFETCH(int, brokenLinks);
    QCOMPARE(out.found, expected);
    QCOMPARE(out.counts.unreadableFolders, qint64(unreadableFolders));
    QCOMPARE(out.counts.vanished, qint64(vanished));
    QCOMPARE(out.counts.brokenLinks, qint64(brokenLinks));
}

void TestImporter::metadata_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("bext");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("description");
    QTest::newRow("WAV with a broadcast description")
        << "Foley/door slam.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2 << 48000 << 156000
        << QString() << QString() << "Door slam, close \u2014 \u00fcber"
        << "door slam"
        << "Foley"
        << "Door slam, close \u2014 \u00fcber | WAV 48000 Hz 24-bit stereo 0:03.25";
    QTest::newRow("WAV with title and comment")
        << "Rooms/win.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1 << 22050 << 22050
        << "Fen\u00eatre \u00abouverte\u00bb 'x'"
        << "INFO comment" << QString() << "Fen\u00eatre \u00abouverte\u00bb 'x'"
        << "Rooms"
        << "INFO comment | WAV 22050 Hz 16-bit mono 0:01.00";
    QTest::newRow("AIFF") << "\u98a8/wind.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 1 << 44100
                          << 44100 << QString() << QString() << QString() << "wind"
                          << "\u98a8"
                          << "AIFF 44100 Hz 16-bit mono 0:01.00";
    QTest::newRow("FLAC with Vorbis comments")
        << "Music/tune.final.flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << 44100 << 4410
        << "Tune"
        << "A comment" << QString() << "Tune"
        << "Music"
        << "A comment | FLAC 44100 Hz 16-bit stereo 0:00.10";
    QTest::newRow("float WAV, six channels")
        << "M/six.wav" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 6 << 8000 << 8000 * 3725 << QString()
        << QString() << QString() << "six"
        << "M"
        << "WAV 8000 Hz 32-bit float 6 channels 1:02:05.00";
    QTest::newRow("unreadable file")
        << "Junk/broken.wav" << 0 << 0 << 0 << 0 << QString() << QString() << QString() << "broken"
        << "Junk"
        << "";
}

void TestImporter::metadata() {
    QFETCH(QString, file);
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(int, frames);
    QFETCH(QString, title);
    QFETCH(QString, comment);
    QFETCH(QString, bext);
    QFETCH(QString, name);
    QFETCH(QString, category);
    QFETCH(QString, description);
    test::TempProgramFolder folder;
    folder.createCatalogue();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tree/") + file);
    if (format) {
        writeSound(path, format, channels, rate, frames,
                   {title.toUtf8(), comment.toUtf8(), bext.toUtf8()});
    } else {
        makeTree(dir.filePath(QStringLiteral("tree")), {file + u'!'});
    }
    importer::ImportProgress progress;
    const importer::ImportResult result = importer::importPaths(
        folder.cataloguePath(), {dir.filePath(QStringLiteral("tree"))}, progress);
    QVERIFY(!result.failure);
    QCOMPARE(result.added, format ? 1 : 0);
    QCOMPARE(result.unreadable, format ? 0 : 1);
    QCOMPARE(result.unreadableFiles, format ? QStringList() : QStringList{path});
    const QList<Entry> entries = folder.readEntries();
    if (!format) {
        QCOMPARE(entries.size(), 0);
        return;
    }
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].name, name);
    QCOMPARE(entries[0].file, path);
    QCOMPARE(entries[0].category, category);
    QCOMPARE(entries[0].description, description);
}

void TestImporter::secondImportAndLetterCase() {
    test::TempProgramFolder folder;
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("S"));
    makeTree(root, {u"a.wav"_s, u"A.wav"_s, u"b.wav"_s, u"c'd.wav!"_s});
    // Stored by another tool: the exact path of a.wav, and b.wav's in other letters.
    folder.createCatalogue({{0, u"a"_s, root + u"/a.wav"_s, u"S"_s, u""_s},
                            {0, u"B"_s, root + u"/B.WAV"_s, u"S"_s, u""_s}});
    importer::ImportProgress progress;
    importer::ImportResult first = importer::importPaths(folder.cataloguePath(), {root}, progress);
    QVERIFY(!first.failure);
    QCOMPARE(first.found, 4);
    QCOMPARE(first.added, 2);
    QCOMPARE(first.skipped, 1);
    QCOMPARE(
        importer::importSummary(first),
        QStringLiteral("Added 2 sound files. Skipped 1 already in the catalogue, 1 not readable."));
    // Again, with files named twice: nothing is added, the unreadable one counted once.
    importer::ImportProgress again;
    const importer::ImportResult second = importer::importPaths(
        folder.cataloguePath(), {root, root + u"/b.wav"_s, root + u"/c'd.wav"_s}, again);
    QCOMPARE(second.added, 0);
    QCOMPARE(second.skipped, 4);
    QCOMPARE(second.unreadable, 1);
    QStringList paths;
    for (const Entry& e : folder.readEntries()) paths << e.file;
    QCOMPARE(paths, (QStringList{root + u"/a.wav"_s, root + u"/B.WAV"_s, root + u"/A.wav"_s,
                                 root + u"/b.wav"_s}));
}

void TestImporter::killDuringImport() {
    // Enough files that the import is still running when a batch is stored.
    constexpr int kFiles = 30000;
    QTemporaryDir dir;
    for (int d = 0; d < kFiles / 500; ++d) {
        const QString sub = dir.filePath(QStringLiteral("tree/%1").arg(d));
        QDir().mkpath(sub);
        for (int f = 0; f < 500; ++f) writeTinyWav(sub + QStringLiteral("/s%1.wav").arg(f));
    }
    const QString catalogue = dir.filePath(QStringLiteral("cat.mdb"));
    QProcess cli;
    cli.start(QStringLiteral(KALVERO_CLI),
              {u"--catalogue"_s, catalogue, u"import"_s, dir.filePath(QStringLiteral("tree"))});
    QVERIFY(cli.waitForStarted());
    cli.setReadChannel(QProcess::StandardError);
    // Progress comes one line per thousand files: kill once a batch is in.
    bool killed = false;
    QByteArray seen;
    while (!killed && cli.waitForReadyRead(30000)) {
        seen += cli.readAllStandardError();
        static const QRegularExpression added(QStringLiteral(", ([1-9][0-9]*) added"));
        if (added.match(QString::fromUtf8(seen)).hasMatch()) {
            ::kill(pid_t(cli.processId()), SIGKILL);
            killed = true;
        }
    }
    QVERIFY2(killed, seen.constData());
    cli.waitForFinished();
    QCOMPARE(cli.exitStatus(), QProcess::CrashExit);

    // The file is whole and holds whole entries only.
    qint64 stored = 0;
    {
        store::Connection c = store::openCatalogueFile(catalogue, SQLITE_OPEN_READWRITE);
        store::Statement check(c, "PRAGMA integrity_check");
        QVERIFY(check.step());
        QCOMPARE(check.textBytes(0), QByteArray("ok"));
        store::Statement count(
            c,
            "select count(*), count(distinct FilePath), sum(DescriptionData like "
            "'WAV 44100 Hz 16-bit mono 0:00.00') from SoundData");
        QVERIFY(count.step());
        stored = count.int64(0);
        QCOMPARE(count.int64(1), stored);
        QCOMPARE(count.int64(2), stored);
    }
    QVERIFY2(stored > 0 && stored < kFiles, QByteArray::number(stored).constData());

    // A rerun adds the rest.
    QString out;
    QCOMPARE(
        runCli({u"--catalogue"_s, catalogue, u"import"_s, dir.filePath(QStringLiteral("tree"))},
               &out),
        0);
    QCOMPARE(out.trimmed(), QStringLiteral("Added %1 sound files. Skipped %2 already in the "
                                           "catalogue, 0 not readable.")
                                .arg(kFiles - stored)
                                .arg(stored));
}

void TestImporter::waitsForAnotherProgramsLock() {
    test::TempProgramFolder folder;
    folder.createCatalogue();
    QTemporaryDir dir;
    makeTree(dir.path(), {u"a.wav"_s, u"b/c.wav"_s});
    // Another program holds the file for longer than the window's own wait.
    store::Connection other =
        store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    other.exec("BEGIN EXCLUSIVE");
    QProcess cli;
    cli.start(QStringLiteral(KALVERO_CLI),
              {u"--catalogue"_s, folder.cataloguePath(), u"import"_s, dir.path()});
    QVERIFY(!cli.waitForFinished(4000));
    other.exec("COMMIT");
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(folder.countRows(), 2);
}

void TestImporter::cliExitCodes_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::newRow("no command") << QStringList{} << 2 << "No command given";
    QTest::newRow("unknown command")
        << QStringList{u"imprt"_s, u"x"_s} << 2 << "Unknown command 'imprt'";
    QTest::newRow("import without a path")
        << QStringList{u"import"_s} << 2 << "Usage: kalvero-cli import PATH...";
    QTest::newRow("export with two files")
        << QStringList{u"export"_s, u"a"_s, u"b"_s} << 2 << "Usage";
    QTest::newRow("unknown option")
        << QStringList{u"--nosuch"_s, u"import"_s, u"x"_s} << 2 << "nosuch";
    QTest::newRow("catalogue without a file")
        << QStringList{u"import"_s, u"x"_s, u"--catalogue"_s} << 2 << "catalogue";
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << "import-csv FILE.csv";
    QTest::newRow("missing path") << QStringList{u"import"_s, u"@/nope"_s, u"@"_s} << 1
                                  << "No such file or folder: @/nope";
    QTest::newRow("export without a catalogue")
        << QStringList{u"export"_s, u"@/out.csv"_s} << 1 << "No catalogue";
    QTest::newRow("catalogue made as the program makes it")
        << QStringList{u"import"_s, u"@"_s} << 0 << "Added 0 sound files.";
    QTest::newRow("catalogue that is no catalogue")
        << QStringList{u"import"_s, u"@"_s, u"--catalogue"_s, u"@/junk.mdb"_s} << 1
        << "not a Kalvero catalogue";
    // "#" is a folder of one sound, a text and noise under sound names, a
    // text under its own name, and a link to the sound.
    QTest::newRow("file without a sound extension")
        << QStringList{u"import"_s, u"#/n\u00f6tes 'x' %_.txt"_s, u"#/one.wav"_s} << 1
        << "Not a sound file: #/n\u00f6tes 'x' %_.txt\n|Added 1 sound file. Skipped 0";
    QTest::newRow("files libsndfile cannot read")
        << QStringList{u"import"_s, u"#"_s} << 0
        << "Not a readable sound file: #/noise.flac\nNot a readable sound file: #/notes.wav\n|"
           "Added 1 sound file. Skipped 0 already in the catalogue, 2 not readable.";
    QTest::newRow("link out of the folders given")
        << QStringList{u"import"_s, u"#/Links"_s} << 0 << "Added 1 sound file.";
    QTest::newRow("link to a file given as well")
        << QStringList{u"import"_s, u"#/Links"_s, u"#/one.wav"_s} << 0 << "Added 1 sound file.";
}

void TestImporter::cliExitCodes() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    QTemporaryDir dir;
    QFile junk(dir.filePath(QStringLiteral("junk.mdb")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    QTemporaryDir sounds;
    makeTree(sounds.path(), {u"one.wav"_s, u"notes.wav!"_s, u"n\u00f6tes 'x' %_.txt!"_s,
                             u"Links/l.wav->../one.wav"_s});
    QFile noise(sounds.filePath(u"noise.flac"_s));
    QVERIFY(noise.open(QIODevice::WriteOnly));
    QRandomGenerator bytes(4096);
    for (int i = 0; i < 4096; ++i) noise.putChar(char(bytes.bounded(256)));
    noise.close();
    const QString catalogue = dir.filePath(QStringLiteral("Kalverodb.mdb"));
    for (QString& arg : args)
        arg.replace(QLatin1Char('@'), dir.path()).replace(u'#', sounds.path());
    says.replace(QLatin1Char('@'), dir.path()).replace(u'#', sounds.path());
    if (!args.contains(QStringLiteral("--catalogue"))) args << u"--catalogue"_s << catalogue;
    QString out, err;
    QCOMPARE(runCli(args, &out, &err), code);
    // Each part, as the tool writes its errors first.
    for (const QString& part : says.split(QLatin1Char('|')))
        QVERIFY2((err + out).contains(part), qPrintable(err + out));
    static const QRegularExpression addedCount(QStringLiteral("^Added ([0-9]+) sound file"),
                                               QRegularExpression::MultilineOption);
    if (const QRegularExpressionMatch added = addedCount.match(out); added.hasMatch()) {
        // The window opens what the tool made, and finds what the summary says.
        test::TempProgramFolder program;
        QFile::copy(catalogue, program.cataloguePath());
        store::Catalogue window(program.path());
        window.begin();
        store::Statement rows = window.query(QStringLiteral("select count(*) from SoundData"));
        QVERIFY(rows.step());
        QCOMPARE(rows.int64(0), added.captured(1).toLongLong());
    }
}

void TestImporter::windowImport_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("given");  // relative to the tree
    QTest::addColumn<int>("added");
    QTest::newRow("drop of two files")
        << "drop" << QStringList{u"A/one.wav"_s, u"B/two.wav"_s} << 2;
    QTest::newRow("drop of a folder") << "drop" << QStringList{u"A"_s} << 1;
    QTest::newRow("drop of one file fills Sound File")
        << "drop" << QStringList{u"A/one.wav"_s} << -1;
    QTest::newRow("Import Folder...") << "menu" << QStringList{u""_s} << 2;
    QTest::newRow("Import Folder... cancelled") << "menu" << QStringList{} << -1;
    // Enough files that the walk is still running when Cancel is pressed.
    QTest::newRow("Cancel in the progress dialog") << "cancel" << QStringList{u"C"_s} << 0;
    // The tree imported before; then a file added, one deleted, "Rescan Folders".
    QTest::newRow("Rescan Folders") << "rescan" << QStringList{} << 1;
    // The same with the old entry's folder gone as well: it looks unplugged.
    QTest::newRow("Rescan Folders, a folder unplugged") << "rescan" << QStringList{u"/x"_s} << 0;
}

void TestImporter::windowImport() {
    QFETCH(QString, how);
    QFETCH(QStringList, given);
    QFETCH(int, added);
    test::IsolatedSettings settings;
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"old"_s, u"/x/old.wav"_s, u""_s, u""_s}});
    QTemporaryDir dir;
    makeTree(dir.path(), {u"A/one.wav"_s, u"B/two.wav"_s});
    if (how == QLatin1String("cancel")) {
        QDir(dir.path()).mkdir(u"C"_s);
        for (int i = 0; i < 5000; ++i) writeTinyWav(dir.filePath(u"C/%1.wav"_s.arg(i)));
    }
    if (how == QLatin1String("rescan")) {
        if (given.isEmpty()) {
            store::Connection c =
                store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
            c.exec("delete from SoundData");
        }
        importer::ImportProgress progress;
        QCOMPARE(importer::importPaths(folder.cataloguePath(), {dir.path()}, progress).added, 2);
        writeTinyWav(dir.filePath(u"A/th'ree %_ 三.wav"_s));
        QVERIFY(QFile::remove(dir.filePath(u"B/two.wav"_s)));
    }
    auto dialogs = std::make_shared<test::ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QSignalSpy loads(form.get(), &window::Form1::loadFinished);
    QSignalSpy analysed(form->analysis(), &reconcile::BackgroundAnalysis::finished);
    QStringList paths;
    for (const QString& g : given) paths << QDir::cleanPath(dir.path() + QLatin1Char('/') + g);

    if (how == QLatin1String("drop")) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
    } else {
        // The item stands above "Rescan Folders", which stands just above "Exit".
        auto* menu = form->findChild<QMenu*>(QStringLiteral("FileMenu"));
        const QList<QAction*> items = menu->actions();
        const qsizetype at =
            items.indexOf(form->findChild<QAction*>(QStringLiteral("ImportFolderM")));
        QCOMPARE(items.value(at)->text(), QStringLiteral("Import Folder..."));
        QCOMPARE(items.value(at + 1)->text(), QStringLiteral("Rescan Folders"));
        QCOMPARE(items.value(at + 2)->objectName(), QStringLiteral("ExitM"));
        if (how == QLatin1String("rescan")) {
            items.value(at + 1)->trigger();
            QTRY_COMPARE(dialogs->messages.size(), 1);
            QCOMPARE(dialogs->messages[0].text,
                     added ? u"Added 1 new sound file. 1 file is gone (kept in the catalogue)."_s
                           : u"Nothing was changed: more than half of the files under /x are "
                             "gone, so it looks unplugged. Connect it and rescan again. 2 files "
                             "are gone (kept in the catalogue)."_s);
            QCOMPARE(loads.size(), 1);
            // The gone files' entries stay; the new file comes in only when
            // nothing looks unplugged: "one", "two" and "three", or "old", "one" and "two".
            QCOMPARE(form->list()->count(), 3);
            // What the rescan brought is analysed in the background; the files
            // that are gone have nothing to read.
            QVERIFY(analysed.wait(20000));
            const auto result = analysed[0][0].value<reconcile::CatalogueAnalysisResult>();
            QCOMPARE(result.analysed, 1 + added);
            QCOMPARE(result.noFile, 2 - added);
            return;
        }
        dialogs->folders.push_back(paths.isEmpty() ? QString() : paths.first());
        // Cancel is pressed as soon as the dialog is up, before the walk has begun.
        if (how == QLatin1String("cancel"))
            QTimer::singleShot(0, form.get(), [] {
                if (auto* d = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                    d->findChild<QPushButton*>()->click();
            });
        items.value(at)->trigger();
    }
    if (added < 0) {
        QTest::qWait(50);
        QCOMPARE(dialogs->messages.size(), 0);
        QCOMPARE(folder.countRows(), 1);
        QCOMPARE(form->findChild<QLineEdit*>(QStringLiteral("Text2"))->text(),
                 paths.isEmpty() ? QString() : paths.first());
        return;
    }
    QTRY_COMPARE(dialogs->messages.size(), 1);
    QString text = dialogs->messages[0].text;
    if (how == QLatin1String("cancel")) {
        // Stopped after the batch being stored, which is kept whole.
        const QString head = u"Import cancelled. What was added so far is kept.\n\n"_s;
        QVERIFY2(text.startsWith(head), qPrintable(text));
        text.remove(0, head.size());
        added = int(folder.countRows() - 1);
        QVERIFY(added < 5000);
    }
    QCOMPARE(text, (added == 1 ? u"Added 1 sound file."_s : u"Added %1 sound files."_s.arg(added)) +
                       u" Skipped 0 already in the catalogue, 0 not readable."_s);
    QCOMPARE(loads.size(), 1);
    QCOMPARE(form->list()->count(), 1 + added);
}

#include "tst_importer.moc"
QTEST_MAIN(TestImporter)
