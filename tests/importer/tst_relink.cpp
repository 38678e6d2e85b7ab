// kalvero-cli's missing and relink, run in this process on hostile paths:
// quotes, blanks, % and _, accents in both Unicode forms, other scripts, a
// folder whose name another folder's name begins with, relative folders, new
// paths that other entries name, a locked catalogue, a refused change, and
// results written to a full disk or a closed pipe.

#include "cli/cli.h"
#include "store/catalogue.h"
#include "testsupport.h"

#include <unistd.h>
#include <QtTest>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;
using kalvero::test::CliRun;
using kalvero::test::Entry;
using kalvero::test::runCli;
using kalvero::test::TempProgramFolder;

namespace {

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
    void lockWaitedOutRefusalChangesNothing();
    void missing();
    void unwritableResultsFail_data();
    void unwritableResultsFail();
};

void RelinkTest::relink_data() {
    QTest::addColumn<QString>("from");  // "^": the root, reached by ".." from the working folder
    QTest::addColumn<QString>("to");  // under the test's folder, named relative to the working one
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QList<int>>("moved");  // rows that move
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");  // "@" stands for the test's folder

    const QString place = QStringLiteral("new 'place' 声");
    QTest::newRow("on a folder boundary, byte for byte")
        << kOld << place << false << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("trailing slashes")
        << kOld + QStringLiteral("//") << place + QStringLiteral("/") << false
        << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("relative, with . and ..")
        << QStringLiteral("^") + kOld + QStringLiteral("/sub/../.")
        << QStringLiteral("./x/..//") + place << false << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 1 of the new paths exists.\n");
    QTest::newRow("dry run") << kOld << place << true << QList<int>{} << 0
                             << QStringLiteral(
                                    "Would relink 4 entries; 1 of the new paths exists. "
                                    "Nothing was changed (--dry-run).\n");
    QTest::newRow("a name's beginning is no folder")
        << QStringLiteral("/music/Ünï") << QStringLiteral("x") << false << QList<int>{} << 1
        << QStringLiteral("No entry of the catalogue lies in /music/Ünï; nothing was changed.\n");
    QTest::newRow("the root") << QStringLiteral("/") << QStringLiteral("root") << false
                              << QList<int>{0, 1, 2, 3, 4, 5, 8, 9} << 0
                              << QStringLiteral("Relinked 8 entries; 0 of the new paths exist.\n");
    QTest::newRow("a new path another entry names")
        << kOld << QStringLiteral("taken") << false << QList<int>{2, 3, 9} << 1
        << QStringLiteral(
               "Relinked 3 entries; 0 of the new paths exist.\n1 entry was left "
               "unchanged: another entry already names the new path. ID, path, new "
               "path and the other entry's ID:\n1\t") +
               kOld + QStringLiteral("/a b.wav\t@/taken/a b.wav\t9\n");
    QTest::newRow("into the place another entry leaves")
        << kOld << kOld + QStringLiteral("/sub") << false << QList<int>{0, 2, 3, 9} << 0
        << QStringLiteral("Relinked 4 entries; 0 of the new paths exist.\n");
}

void RelinkTest::relink() {
    QFETCH(QString, from);
    QFETCH(QString, to);
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
        // Other letter case and the decomposed forms of "Ü" and "ï" are other folders.
        {0, QStringLiteral("e"), kOld.toLower() + QStringLiteral("/a.wav"), {}, {}},
        {0, u"f"_s, kOld.normalized(QString::NormalizationForm_D) + u"/a.wav"_s, {}, {}},
        {0, QStringLiteral("g"), QStringLiteral("relative/a.wav"), {}, {}},
        {0, QStringLiteral("h"), QString(), {}, {}},
        {0, QStringLiteral("i"), dir.filePath(QStringLiteral("taken/a b.wav")), {}, {}},
        // Moved into kOld/sub, it takes the place "d" leaves for kOld/sub/sub.
        {0, QStringLiteral("j"), kOld + QStringLiteral("/%_ 'e'.wav"), {}, {}}};
    folder.createCatalogue(before);
    QVERIFY(dir.mkpath(QStringLiteral("new 'place' 声")));
    QFile(dir.filePath(QStringLiteral("new 'place' 声/a b.wav"))).open(QIODevice::WriteOnly);

    // From here up to the root: "../.." (Qt 6.4) or "../../" (Qt 6.8).
    QString up = QDir::current().relativeFilePath(u"/"_s);
    if (up.endsWith(u'/')) up.chop(1);
    from.replace(u'^', up);
    const QDir relativeDir(QDir::current().relativeFilePath(folder.path()));
    QStringList arguments{u"relink"_s, from, relativeDir.filePath(to)};
    if (dryRun) arguments << QStringLiteral("--dry-run");
    const CliRun run = runCli(folder, arguments);
    QCOMPARE(run.out + run.err, QString(said).replace(QLatin1Char('@'), folder.path()));
    QCOMPARE(run.code, code);

    QStringList expected = paths(before);
    const QString oldFolder = QDir::cleanPath(QDir::current().absoluteFilePath(from));
    const QString target = QDir::cleanPath(dir.filePath(to));
    for (int row : moved) {
        const QString rest =
            expected[row].mid(oldFolder.size() + (oldFolder == QLatin1String("/") ? 0 : 1));
        expected[row] = rest.isEmpty() ? target : target + QLatin1Char('/') + rest;
    }
    QCOMPARE(paths(folder.readEntries()), expected);
}

void RelinkTest::lockWaitedOutRefusalChangesNothing() {
    TempProgramFolder folder;
    folder.createCatalogue(
        {{0, u"a"_s, u"/old/a.wav"_s, {}, {}}, {0, u"b"_s, u"/old/b.wav"_s, {}, {}}});
    kalvero::store::Connection other =
        kalvero::store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    // Another program's rule refuses the second entry's change, after the first one's.
    other.exec(
        "create trigger no before update on SoundData when old.ID = 2 begin select raise(abort, "
        "'no'); end");
    CliRun run = runCli(folder, {u"relink"_s, u"/old"_s, u"/new"_s});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains(QLatin1String("Nothing was changed.")), qPrintable(run.err));
    QCOMPARE(paths(folder.readEntries()), (QStringList{u"/old/a.wav"_s, u"/old/b.wav"_s}));
    QCOMPARE(runCli(folder, {QStringLiteral("relink"), QString(), QStringLiteral("/new")}).code, 2);

    other.exec("drop trigger no");
    other.exec("BEGIN EXCLUSIVE");
    std::thread release([&] {
        QThread::sleep(1);
        other.exec("ROLLBACK");
    });
    run = runCli(folder, {u"relink"_s, u"/old"_s, u"/new"_s});
    release.join();
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QCOMPARE(paths(folder.readEntries()), (QStringList{u"/new/a.wav"_s, u"/new/b.wav"_s}));
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
    QTest::newRow("missing, full disk") << QStringList{u"missing"_s} << false << 1;
    QTest::newRow("help, closed pipe") << QStringList{u"--help"_s} << true << 1;
    QTest::newRow("a wrong call stays one") << QStringList{u"missing"_s, u"x"_s} << false << 2;
}

void RelinkTest::unwritableResultsFail() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, closedPipe);
    QFETCH(int, code);
    TempProgramFolder folder;
    folder.createCatalogue({{0, u"x 'ü'"_s, u"/gone/x.wav"_s, {}, {}}});
    int fds[2] = {-1, -1};
    if (closedPipe) QVERIFY(pipe(fds) == 0 && close(fds[0]) == 0);
    FILE* out = closedPipe ? fdopen(fds[1], "w") : std::fopen("/dev/full", "w");
    const CliRun run = runCli(folder, arguments, out);
    std::fclose(out);
    QCOMPARE(run.code, code);
    QCOMPARE(run.err.contains(u"The results could not be written"_s), code == 1);
}

QTEST_GUILESS_MAIN(RelinkTest)
#include "tst_relink.moc"
