// kalvero-cli's missing and relink, run in this process on hostile paths:
// quotes, blanks, % and _, accents in both Unicode forms, other scripts, a
// folder whose name another folder's name begins with, relative folders, new
// paths that other entries name, a locked catalogue, a change the catalogue
// refuses, and results written to a full disk or a closed pipe.

#include "cli/cli.h"
#include "store/catalogue.h"
#include "testsupport.h"

#include <unistd.h>
#include <QtTest>
#include <chrono>
#include <cstdio>
#include <thread>

using kalvero::test::Entry;
using kalvero::test::TempProgramFolder;

namespace {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

QString readBack(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, qsizetype(n));
    std::fclose(file);
    return QString::fromUtf8(bytes);
}

// Results go to `out` when given (left open), else to a file read back into run.out.
CliRun runCli(const TempProgramFolder& folder, const QStringList& arguments, FILE* out = nullptr) {
    FILE* results = out ? out : std::tmpfile();
    FILE* err = std::tmpfile();
    CliRun run;
    {
        kalvero::cli::Console console(results, err);
        run.code = kalvero::cli::run(QStringList{QStringLiteral("kalvero-cli")} + arguments,
                                     folder.path(), console);
    }
    if (!out) run.out = readBack(results);
    run.err = readBack(err);
    return run;
}

QStringList paths(const QList<Entry>& entries) {
    QStringList out;
    for (const Entry& e : entries) out << e.file;
    return out;
}

const QString kOld = QStringLiteral("/music/Ünï 'q' \"dq\" 100%_ %1");

}  // namespace

class RelinkTest : public QObject {
    Q_OBJECT
private slots:
    void relink_data();
    void relink();
    void refusedChangeChangesNothing();
    void relinkWaitsOutAnotherProgramsLock();
    void missing();
    void unwritableResultsFail_data();
    void unwritableResultsFail();
};

void RelinkTest::relink_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");     // under the test's folder
    QTest::addColumn<bool>("relative");  // both given relative to the test's folder
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QList<int>>("moved");  // rows that move
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");  // "@" stands for the test's folder

    const QString place = QStringLiteral("new 'place' 声");
    QTest::newRow("on a folder boundary, byte for byte")
        << kOld << place << false << false << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("trailing slashes")
        << kOld + QStringLiteral("//") << place + QStringLiteral("/") << false << false
        << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("relative, with . and ..")
        << kOld + QStringLiteral("/sub/../.") << QStringLiteral("./x/..//") + place << true << false
        << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("dry run") << kOld << place << false << true << QList<int>{} << 0
                             << QStringLiteral(
                                    "Would relink 4 entries; 1 of the new paths exists. "
                                    "Nothing was changed (--dry-run).\n");
    QTest::newRow("one entry") << kOld + QStringLiteral("/sub") << QStringLiteral("x") << false
                               << false << QList<int>{3} << 0
                               << QStringLiteral("Relinked 1 entry; 0 of the new paths exist.\n");
    QTest::newRow("a name's beginning is no folder")
        << QStringLiteral("/music/Ünï") << QStringLiteral("x") << false << false << QList<int>{}
        << 1
        << QStringLiteral("No entry of the catalogue lies in /music/Ünï; nothing was changed.\n");
    QTest::newRow("the root") << QStringLiteral("/") << QStringLiteral("root") << false << false
                              << QList<int>{0, 1, 2, 3, 4, 5, 8, 9} << 0
                              << QStringLiteral("Relinked 8 entries; 0 of the new paths exist.\n");
    QTest::newRow("a new path another entry names")
        << kOld << QStringLiteral("taken") << false << false << QList<int>{2, 3, 9} << 1
        << QStringLiteral(
               "Relinked 3 entries; 0 of the new paths exist.\n1 entry was left "
               "unchanged: another entry already names the new path. ID, path, new "
               "path and the other entry's ID:\n1\t") +
               kOld + QStringLiteral("/a b.wav\t@/taken/a b.wav\t9\n");
    QTest::newRow("into the place another entry leaves")
        << kOld << kOld + QStringLiteral("/sub") << false << false << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 0 of the new paths exist.\n");
}

void RelinkTest::relink() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, relative);
    QFETCH(bool, dryRun);
    QFETCH(QList<int>, moved);
    QFETCH(int, code);
    QFETCH(QString, said);

    TempProgramFolder folder;
    const QDir dir(folder.path());
    const QList<Entry> before{
        {0, QStringLiteral("a"), kOld + QStringLiteral("/a b.wav"), {}, {}},
        {0, QStringLiteral("b"), kOld + QStringLiteral("bc/x.wav"), {}, {}},
        {0, QStringLiteral("c"), kOld, {}, {}},
        {0, QStringLiteral("d"), kOld + QStringLiteral("/sub/%_ 'e'.wav"), {}, {}},
        // Other letter case and the decomposed form of "Ü" are other folders.
        {0, QStringLiteral("e"), QStringLiteral("/music/ünï 'q' \"dq\" 100%_ %1/a.wav"), {}, {}},
        {0,
         QStringLiteral("f"),
         QStringLiteral("/music/U\u0308nï 'q' \"dq\" 100%_ %1/a.wav"),
         {},
         {}},
        {0, QStringLiteral("g"), QStringLiteral("relative/a.wav"), {}, {}},
        {0, QStringLiteral("h"), QString(), {}, {}},
        {0, QStringLiteral("i"), dir.filePath(QStringLiteral("taken/a b.wav")), {}, {}},
        // Moved into kOld/sub, it takes the place "d" leaves for kOld/sub/sub.
        {0, QStringLiteral("j"), kOld + QStringLiteral("/%_ 'e'.wav"), {}, {}}};
    folder.createCatalogue(before);
    const QString target = QDir::cleanPath(dir.filePath(to));
    QVERIFY(dir.mkpath(QStringLiteral("new 'place' 声")));
    QFile(dir.filePath(QStringLiteral("new 'place' 声/a b.wav"))).open(QIODevice::WriteOnly);

    QStringList arguments{QStringLiteral("relink"), from, dir.filePath(to)};
    const QString cwd = QDir::currentPath();
    if (relative) {
        QDir::setCurrent(folder.path());
        arguments = QStringList{QStringLiteral("relink"),
                                dir.relativeFilePath(kOld) + from.mid(kOld.size()), to};
    }
    if (dryRun) arguments << QStringLiteral("--dry-run");
    const CliRun run = runCli(folder, arguments);
    QDir::setCurrent(cwd);
    QCOMPARE(run.out + run.err, QString(said).replace(QLatin1Char('@'), folder.path()));
    QCOMPARE(run.code, code);

    QStringList expected = paths(before);
    for (int row : moved) {
        QString rest = expected[row];
        rest =
            from == QLatin1String("/") ? rest.mid(1) : rest.mid(QDir::cleanPath(from).size() + 1);
        expected[row] = rest.isEmpty() ? target : target + QLatin1Char('/') + rest;
    }
    QCOMPARE(paths(folder.readEntries()), expected);
}

void RelinkTest::refusedChangeChangesNothing() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("a"), QStringLiteral("/old/a.wav"), {}, {}},
                            {0, QStringLiteral("b"), QStringLiteral("/old/b.wav"), {}, {}}});
    // Another program's rule refuses the second entry's change, after the first one's.
    kalvero::store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE)
        .exec(
            "create trigger refuse before update on SoundData when old.ID = 2 "
            "begin select raise(abort, 'refused'); end");
    const CliRun run =
        runCli(folder, {QStringLiteral("relink"), QStringLiteral("/old"), QStringLiteral("/new")});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains(QLatin1String("Nothing was changed.")), qPrintable(run.err));
    QCOMPARE(paths(folder.readEntries()),
             (QStringList{QStringLiteral("/old/a.wav"), QStringLiteral("/old/b.wav")}));
    QCOMPARE(runCli(folder, {QStringLiteral("relink"), QString(), QStringLiteral("/new")}).code, 2);
}

void RelinkTest::relinkWaitsOutAnotherProgramsLock() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("a"), QStringLiteral("/old/a.wav"), {}, {}}});
    kalvero::store::Connection other =
        kalvero::store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    other.exec("BEGIN EXCLUSIVE");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        other.exec("ROLLBACK");
    });
    const CliRun run =
        runCli(folder, {QStringLiteral("relink"), QStringLiteral("/old"), QStringLiteral("/new")});
    release.join();
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QCOMPARE(paths(folder.readEntries()), QStringList{QStringLiteral("/new/a.wav")});
}

void RelinkTest::missing() {
    TempProgramFolder folder;
    const QString present = QDir(folder.path()).filePath(QStringLiteral("present 'ü'.wav"));
    QFile(present).open(QIODevice::WriteOnly);
    folder.createCatalogue({{0, QStringLiteral("here"), present, {}, {}},
                            {0,
                             QStringLiteral("tab\there \"q\" \\ 音"),
                             QStringLiteral("/gone/line\nbreak 100%_.wav"),
                             {},
                             {}},
                            {0, QStringLiteral("no path"), QString(), {}, {}},
                            {0, QStringLiteral("a folder"), folder.path(), {}, {}}});
    const CliRun run = runCli(folder, {QStringLiteral("missing")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("2\ttab\\there \"q\" \\\\ 音\t/gone/line\\nbreak 100%_.wav\n"
                                     "3\tno path\t\n"
                                     "4\ta folder\t%1\n")
                          .arg(folder.path()));
    QCOMPARE(run.err, QStringLiteral("3 entries have no file.\n"));
}

void RelinkTest::unwritableResultsFail_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("closedPipe");  // else a full disk
    QTest::addColumn<int>("code");
    QTest::newRow("missing, full disk") << QStringList{QStringLiteral("missing")} << false << 1;
    QTest::newRow("missing, closed pipe") << QStringList{QStringLiteral("missing")} << true << 1;
    QTest::newRow("relink, full disk")
        << QStringList{QStringLiteral("relink"), QStringLiteral("/gone"), QStringLiteral("/x")}
        << false << 1;
    QTest::newRow("help, closed pipe") << QStringList{QStringLiteral("--help")} << true << 1;
    QTest::newRow("a wrong call stays one")
        << QStringList{QStringLiteral("missing"), QStringLiteral("x")} << false << 2;
}

void RelinkTest::unwritableResultsFail() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, closedPipe);
    QFETCH(int, code);
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("x 'ü'"), QStringLiteral("/gone/x.wav"), {}, {}}});
    int fds[2];
    QVERIFY(!closedPipe || pipe(fds) == 0);
    if (closedPipe) close(fds[0]);
    FILE* out = closedPipe ? fdopen(fds[1], "w") : std::fopen("/dev/full", "w");
    QVERIFY(out);
    const CliRun run = runCli(folder, arguments, out);
    std::fclose(out);
    QCOMPARE(run.code, code);
    QCOMPARE(run.err.contains(closedPipe ? QLatin1String("could not be written: Broken pipe")
                                         : QLatin1String("could not be written: No space left")),
             code == 1);
}

QTEST_GUILESS_MAIN(RelinkTest)
#include "tst_relink.moc"
