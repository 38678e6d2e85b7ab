// CSV export and import: a round trip of hostile texts is byte for byte,
// header variants are read by name, rows already stored are skipped or
// updated by ID, a malformed file is refused with its line and stores
// nothing, and the command-line tool never writes over its catalogue and
// says when a write fails.

#include "importer/csvtransfer.h"
#include "testsupport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>
#include <csignal>

using namespace kalvero;
using namespace Qt::StringLiterals;
using test::Entry;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Every name in the folder with its kind and its content or link target.
QStringList snapshot(const QString& folder) {
    QStringList out;
    for (const QFileInfo& info : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        struct stat st {};
        lstat(QFile::encodeName(info.filePath()).constData(), &st);
        QString what = info.symLinkTarget();  // a device is never read: /dev/full never ends
        if (S_ISREG(st.st_mode))
            what = QString::fromLatin1(
                QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Sha1)
                    .toHex());
        out << u"%1 %2 %3"_s.arg(info.fileName()).arg(st.st_mode & S_IFMT).arg(what);
    }
    return out;
}

}  // namespace

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void accepted_data();
    void accepted();
    void malformed_data();
    void malformed();
    void cli_data();
    void cli();
};

void TestCsv::roundTrip() {
    const QString n;  // NULL
    const QList<Entry> rows = {
        {0, u"O'Neil \"the\" bell, 100%_"_s, u"/a/b, c.wav"_s, u""_s, n},
        {0, u"line\r\nbreak\nand\rCR"_s, u"  leading and trailing  "_s, u"\t"_s, u" "_s},
        {0, u"Fenêtre ÄÖÜ ß"_s, u"Дверь.wav"_s, u"風の音"_s, u"مرحبا 🎵 עברית"_s},
        {0, n, n, n, n},
        {0, u"\""_s, u"\"\""_s, u","_s, u"\"a\",\"b\""_s},
        {0, u"=1+2"_s, u"-- ;"_s, u"'; drop table SoundData; --"_s,
         u"\xef\xbb\xbf starts with a mark"_s},
        {0, QString(100000, QLatin1Char('x')), u""_s, u""_s, u""_s},
    };
    test::TempProgramFolder first;
    first.createCatalogue(rows);
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("one.csv"));
    const QString two = dir.filePath(QStringLiteral("two.csv"));
    const importer::CsvOutcome exported = importer::exportCsv(first.cataloguePath(), one);
    QVERIFY2(exported.ok, qPrintable(exported.error));
    QCOMPARE(exported.rows, rows.size());
    QVERIFY(readFile(one).startsWith("ID,NameData,FilePath,Category,DescriptionData\r\n1,"));

    test::TempProgramFolder second;
    second.createCatalogue();
    const importer::CsvOutcome imported = importer::importCsv(second.cataloguePath(), one);
    QVERIFY2(imported.ok, qPrintable(imported.error));
    QCOMPARE(second.readEntries(), first.readEntries());
    QVERIFY(importer::exportCsv(second.cataloguePath(), two).ok);
    QCOMPARE(readFile(two), readFile(one));

    const importer::CsvOutcome again = importer::importCsv(second.cataloguePath(), one);
    QCOMPARE((QList<qint64>{again.rows, again.skipped}), (QList<qint64>{0, rows.size()}));
    const importer::CsvOutcome update =
        importer::importCsv(second.cataloguePath(), one, importer::CsvImport::Update);
    QCOMPARE((QList<qint64>{update.rows, update.updated, update.unchanged}),
             (QList<qint64>{0, 0, rows.size()}));
    QCOMPARE(second.readEntries(), first.readEntries());
}

void TestCsv::accepted_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<bool>("update");
    // Every entry afterwards, name|file|category|description, "~" for NULL.
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QList<qint64>>("counts");  // added, skipped, updated, unchanged
    const QString before1 = u"kept|/k.wav||"_s;
    const QString before2 = u"O'Neil \"%_\" 風|/o.wav|~|d"_s;
    QTest::newRow("header in other case and order, unknown and ID columns ignored")
        << QByteArray(
               "\xef\xbb\xbf"
               "filepath,Extra,DESCRIPTIONDATA, id ,namedata,CATEGORY\n"
               "\"/f.wav\",x,\"d\",1,\"n\",\"c\"\n")
        << false << QStringList{before1, before2, u"n|/f.wav|c|d"_s} << QList<qint64>{1, 0, 0, 0};
    QTest::newRow("missing columns are NULL, quoted empty is empty, an empty last line no row")
        << QByteArray("NameData,FilePath,Category\r\n\"a\",,\r\n\"b\",,\"\"\r\n\r\n") << false
        << QStringList{before1, before2, u"a|~|~|~"_s, u"b|~||~"_s} << QList<qint64>{2, 0, 0, 0};
    QTest::newRow("header only") << QByteArray("ID,FilePath\n") << false
                                 << QStringList{before1, before2} << QList<qint64>{0, 0, 0, 0};
    QTest::newRow("blanks around unquoted fields are data")
        << QByteArray("FilePath,NameData,Category,DescriptionData\n a , b ,\t,  \n") << false
        << QStringList{before1, before2, u" b | a |\t|  "_s} << QList<qint64>{1, 0, 0, 0};
    QTest::newRow("a row already stored is skipped; NULL, case and repeats in the file are not")
        << QByteArray(
               "NameData,FilePath,Category,DescriptionData\n\"kept\",\"/k.wav\",\"\",\"\"\n"
               "\"kept\",\"/k.wav\",,\n\"KEPT\",\"/k.wav\",\"\",\"\"\n"
               "\"O'Neil \"\"%_\"\" 風\",\"/o.wav\",,\"d\"\n\"x\",,,\n\"x\",,,\n")
        << false << QStringList{before1,      before2,     u"kept|/k.wav|~|~"_s, u"KEPT|/k.wav||"_s,
                                u"x|~|~|~"_s, u"x|~|~|~"_s}
        << QList<qint64>{4, 2, 0, 0};
    QTest::newRow("update: named columns only, by ID; other rows added, equal ones unchanged")
        << QByteArray(
               "Category,ID,FilePath\n\"tag 'x' %\",1,\"/k.wav\"\n,2,\"/o.wav\"\n"
               "\"new\",,\"/n.wav\"\n\"gone\",99,\"/g.wav\"\n")
        << true
        << QStringList{u"kept|/k.wav|tag 'x' %|"_s, before2, u"~|/n.wav|new|~"_s,
                       u"~|/g.wav|gone|~"_s}
        << QList<qint64>{2, 0, 1, 1};
}

void TestCsv::accepted() {
    QFETCH(QByteArray, csv);
    QFETCH(bool, update);
    QFETCH(QStringList, expected);
    QFETCH(QList<qint64>, counts);
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"kept"_s, u"/k.wav"_s, u""_s, u""_s},
                            {0, u"O'Neil \"%_\" 風"_s, u"/o.wav"_s, QString(), u"d"_s}});
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.csv")), csv);
    const importer::CsvOutcome outcome =
        importer::importCsv(folder.cataloguePath(), dir.filePath(QStringLiteral("in.csv")),
                            update ? importer::CsvImport::Update : importer::CsvImport::Add);
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QStringList got;
    auto show = [](const QString& t) { return t.isNull() ? QStringLiteral("~") : t; };
    for (const Entry& e : folder.readEntries()) {
        got << QStringList{show(e.name), show(e.file), show(e.category), show(e.description)}.join(
            QLatin1Char('|'));
    }
    QCOMPARE(got, expected);
    QCOMPARE((QList<qint64>{outcome.rows, outcome.skipped, outcome.updated, outcome.unchanged}),
             counts);
}

void TestCsv::malformed_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("error");
    const QByteArray header = "ID,NameData,FilePath,Category,DescriptionData\n";
    QTest::newRow("unbalanced quote at the end")
        << header + "1,\"a\",\"b\",\"c\",\"d\"\n2,\"open\nstill open\n"
        << false << "Line 3: a quoted field is never closed";
    QTest::newRow("quote inside an unquoted field") << header + "1,ab\"c,,,\n"
                                                    << false << "Line 2: a quote";
    QTest::newRow("text after a closing quote") << header + "1,\"a\",\"b\"x,,\n"
                                                << false << "Line 2: a quote";
    QTest::newRow("blank after a closing quote") << header + "1,\"a\" ,,,\n"
                                                 << false << "Line 2: a quote";
    QTest::newRow("more fields than the header")
        << header + "1,\"a\",,,\n2,\"a\",,,,\"extra\"\n"
        << false << "Line 3: the row has 6 fields, the header only 5";
    QTest::newRow("fewer fields than the header, after an empty line and a field of two lines")
        << header + "1,\"a\",,,\n\n2,\"a\nb\",\"c\"\n"
        << false << "Line 4: the row has only 3 fields, the header 5";
    QTest::newRow("cut after an ID")
        << header + "1,\"a\",,,\n2" << false << "Line 3: the row has only 1 field, the header 5";
    QTest::newRow("invalid UTF-8") << header + "1,\"ok\",,,\n2,\"\xc3\x28\",,,\n"
                                   << false << "Line 3: the text is not valid UTF-8";
    QTest::newRow("NUL") << header + QByteArray("1,\"a\0b\",,,\n", 11) << false
                         << "Line 2: a field holds a NUL";
    QTest::newRow("empty file") << QByteArray() << false << "the file is empty";
    QTest::newRow("no known column") << QByteArray("Name,Path\n\"a\",\"b\"\n") << false
                                     << "Line 1: the header has no FilePath column";
    QTest::newRow("no FilePath column") << QByteArray("Name,Path,Category\n\"a\",\"b\",\"c\"\n")
                                        << false << "Line 1: the header has no FilePath column";
    QTest::newRow("update without an ID column")
        << QByteArray("FilePath\n\"/k.wav\"\n") << true << "has no ID column";
    QTest::newRow("update with an ID that is no number") << header + "1,\"a\",,,\n 1,\"b\",,,\n"
                                                         << true << "Line 3: the ID \" 1\" is not";
    QTest::newRow("update of one entry twice") << header + "1,\"a\",,,\n,\"b\",,,\n01,\"c\",,,\n"
                                               << true << "Line 4: the ID 1 is on line 2 already";
}

void TestCsv::malformed() {
    QFETCH(QByteArray, csv);
    QFETCH(bool, update);
    QFETCH(QString, error);
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"kept"_s, u"/k.wav"_s, u""_s, u""_s}});
    const QList<Entry> before = folder.readEntries();
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.csv")), csv);
    const importer::CsvOutcome outcome =
        importer::importCsv(folder.cataloguePath(), dir.filePath(QStringLiteral("in.csv")),
                            update ? importer::CsvImport::Update : importer::CsvImport::Add);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
    QCOMPARE(folder.readEntries(), before);
}

void TestCsv::cli_data() {
    // Run in the program folder, which holds the catalogue (two entries, or
    // one), old.csv, in.csv, up.csv, a folder sub, a link here -> ., a hard
    // link hard.mdb of the catalogue, a dangling link shm-link ->
    // Kalverodb.mdb-shm, and the device "full" (as /dev/full).
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("how");  // "full stdout", or "quota" for a 64 KiB file size limit
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString onto = u"is the catalogue itself or one of its journal files"_s;
    const auto exportTo = [](const QString& target) { return QStringList{u"export"_s, target}; };
    QTest::newRow("export onto the catalogue by its name")
        << exportTo(u"Kalverodb.mdb"_s) << 2 << "" << 1 << "" << onto;
    QTest::newRow("export onto the catalogue through a folder link, ./ and ..")
        << exportTo(u"./here/sub/../Kalverodb.mdb"_s) << 2 << "" << 1 << "" << onto;
    QTest::newRow("export onto a hard link of the catalogue")
        << exportTo(u"hard.mdb"_s) << 2 << "" << 1 << "" << onto;
    QTest::newRow("export onto the journal, not there yet, through a folder link")
        << exportTo(u"here/Kalverodb.mdb-journal"_s) << 2 << "" << 1 << "" << onto;
    QTest::newRow("export onto a dangling link to the shared memory file")
        << exportTo(u"shm-link"_s) << 2 << "" << 1 << "" << onto;
    QTest::newRow("export of one entry to a name that only starts like the WAL's")
        << exportTo(u"sub/../Kalverodb.mdb-wal.csv"_s) << 1 << "" << 0
        << "Exported 1 entry to sub/../Kalverodb.mdb-wal.csv."
        << "";
    QTest::newRow("export onto a full device") << exportTo(u"full"_s) << 2 << "" << 1 << ""
                                               << "The export failed: could not write";
    QTest::newRow("export over a file, past a quota")
        << exportTo(u"old.csv"_s) << 2 << "quota" << 1 << ""
        << "could not write old.csv (File too large). old.csv was left as it was.";
    QTest::newRow("export to standard output") << exportTo(u"-"_s) << 2 << "" << 0 << "ID,NameData"
                                               << "Exported 2 entries.";
    QTest::newRow("export to a full standard output")
        << exportTo(u"-"_s) << 2 << "full stdout" << 1 << ""
        << "could not write to standard output (No space left on device)";
    QTest::newRow("update is no option of export")
        << QStringList{u"export"_s, u"-"_s, u"--update"_s} << 2 << "" << 2 << ""
        << "belongs to 'import-csv'";
    QTest::newRow("import-csv of a file partly imported before")
        << QStringList{u"import-csv"_s, u"in.csv"_s} << 1 << "" << 0
        << "Added 1 entry; skipped 1 row already in the catalogue."
        << "";
    QTest::newRow("import-csv --update")
        << QStringList{u"import-csv"_s, u"--update"_s, u"up.csv"_s} << 2 << "" << 0
        << "Updated 1 entry, added 1 entry; 0 rows unchanged."
        << "";
}

void TestCsv::cli() {
    QFETCH(QStringList, args);
    QFETCH(int, entries);
    QFETCH(QString, how);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    test::TempProgramFolder folder;
    const QList<Entry> fixture = {{0, u"Fenêtre \"100%_\""_s, u"/k.wav"_s, u""_s, QString()},
                                  {0, QString(100000, u'x'), u"/x.wav"_s, u"風"_s, u""_s}};
    folder.createCatalogue(fixture.first(entries));
    const QDir at(folder.path());
    writeFile(at.filePath(u"old.csv"_s), "old\n");
    writeFile(at.filePath(u"in.csv"_s),
              "NameData,FilePath,Category,DescriptionData\r\n"
              "\"Fen\xc3\xaatre \"\"100%_\"\"\",\"/k.wav\",\"\",\r\n\"new\",\"/new.wav\",,\r\n");
    writeFile(at.filePath(u"up.csv"_s),
              "ID,FilePath,Category\r\n1,\"/k.wav\",\"x\"\r\n,\"/u\",\r\n");
    QVERIFY(at.mkdir(u"sub"_s));
    QVERIFY(QFile::link(u"."_s, at.filePath(u"here"_s)));
    QVERIFY(QFile::link(u"Kalverodb.mdb-shm"_s, at.filePath(u"shm-link"_s)));
    QCOMPARE(link(QFile::encodeName(folder.cataloguePath()).constData(),
                  QFile::encodeName(at.filePath(u"hard.mdb"_s)).constData()),
             0);
    // A device of our own: run as root, a temporary file may be made even
    // in /dev, and putting it in place of the device would pass unseen.
    const QByteArray full = QFile::encodeName(at.filePath(u"full"_s));
    if (mknod(full.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        args.replaceInStrings(u"full"_s, u"/dev/full"_s);
    const QStringList before = snapshot(folder.path());

    QProcess cli;
    cli.setWorkingDirectory(folder.path());
    if (how == u"full stdout") cli.setStandardOutputFile(u"/dev/full"_s);
    if (how == u"quota") {
        cli.setChildProcessModifier([] {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 64 * 1024;
            // The tool itself must not die of the limit's signal.
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    cli.start(QStringLiteral(KALVERO_CLI),
              QStringList{u"--catalogue"_s, u"Kalverodb.mdb"_s} + args);
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray stdoutBytes = cli.readAllStandardOutput();
    const QString stderrText = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == code, qPrintable(stderrText));
    QVERIFY2(QString::fromUtf8(stdoutBytes).contains(out), stdoutBytes.left(300).constData());
    QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
    if (args.contains(u"-"_s) && code == 0) {
        // Standard output is the CSV alone, the same as in a file.
        QTemporaryDir other;
        QVERIFY(importer::exportCsv(folder.cataloguePath(), other.filePath(u"x.csv"_s)).ok);
        QCOMPARE(stdoutBytes, readFile(other.filePath(u"x.csv"_s)));
    }
    if (code != 0 || args.contains(u"-"_s)) QCOMPARE(snapshot(folder.path()), before);
    QCOMPARE(folder.readEntries().size(), entries + (args.first() == u"import-csv" ? 1 : 0));
}

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
