// CSV export and import: a round trip of hostile texts is byte for byte,
// header variants are read by name, and a malformed file is refused with its
// line and stores nothing.

#include "importer/csvtransfer.h"
#include "testsupport.h"

#include <QtTest>

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

}  // namespace

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void accepted_data();
    void accepted();
    void malformed_data();
    void malformed();
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
}

void TestCsv::accepted_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("expected");  // name|file|category|description, "~" for NULL
    QTest::newRow("header in other case and order, unknown and ID columns ignored")
        << QByteArray(
               "\xef\xbb\xbf"
               "filepath,Extra,DESCRIPTIONDATA,id,namedata,CATEGORY\n"
               "\"/f.wav\",x,\"d\",99,\"n\",\"c\"\n")
        << QStringList{u"n|/f.wav|c|d"_s};
    QTest::newRow("missing columns and short rows are NULL, quoted empty is empty")
        << QByteArray("NameData,FilePath,Category\r\n\"a\"\r\n\"b\",,\"\"\r\n\r\n")
        << QStringList{u"a|~|~|~"_s, u"b|~||~"_s};
    QTest::newRow("header only") << QByteArray("ID,NameData\n") << QStringList{};
}

void TestCsv::accepted() {
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, expected);
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"kept"_s, u"/k.wav"_s, u""_s, u""_s}});
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.csv")), csv);
    const importer::CsvOutcome outcome =
        importer::importCsv(folder.cataloguePath(), dir.filePath(QStringLiteral("in.csv")));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QStringList got;
    const QList<Entry> entries = folder.readEntries();
    auto show = [](const QString& t) { return t.isNull() ? QStringLiteral("~") : t; };
    for (qsizetype i = 1; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        got << QStringList{show(e.name), show(e.file), show(e.category), show(e.description)}.join(
            QLatin1Char('|'));
    }
    QCOMPARE(got, expected);
}

void TestCsv::malformed_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("error");
    const QByteArray header = "ID,NameData,FilePath,Category,DescriptionData\n";
    QTest::newRow("unbalanced quote at the end")
        << header + "1,\"a\",\"b\",\"c\",\"d\"\n2,\"open\nstill open\n"
        << "Line 3: a quoted field is never closed";
    QTest::newRow("quote inside an unquoted field") << header + "1,ab\"c,,,\n"
                                                    << "Line 2: a quote";
    QTest::newRow("text after a closing quote") << header + "1,\"a\",\"b\"x,,\n"
                                                << "Line 2: a quote";
    QTest::newRow("more fields than the header")
        << header + "1,\"a\",,,\n2,\"a\",,,,\"extra\"\n"
        << "Line 3: the row has 6 fields, the header only 5";
    QTest::newRow("invalid UTF-8") << header + "1,\"ok\",,,\n2,\"\xc3\x28\",,,\n"
                                   << "Line 3: the text is not valid UTF-8";
    QTest::newRow("NUL") << header + QByteArray("1,\"a\0b\",,,\n", 11)
                         << "Line 2: a field holds a NUL";
    QTest::newRow("empty file") << QByteArray() << "the file is empty";
    QTest::newRow("no known column")
        << QByteArray("Name,Path\n\"a\",\"b\"\n") << "Line 1: the header names none";
}

void TestCsv::malformed() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, error);
    test::TempProgramFolder folder;
    folder.createCatalogue({{0, u"kept"_s, u"/k.wav"_s, u""_s, u""_s}});
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.csv")), csv);
    const importer::CsvOutcome outcome =
        importer::importCsv(folder.cataloguePath(), dir.filePath(QStringLiteral("in.csv")));
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
    QCOMPARE(folder.countRows(), 1);
}

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
