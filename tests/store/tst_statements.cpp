// The statement texts, byte for byte: the select with its filters and sort
// memory, the insert and the delete.

#include "store/statements.h"

#include <QtTest>

using namespace kalvero::store;

namespace {
const QString kBase = QStringLiteral(
    "select ID, NameData as [Name], FilePath as [File Path], Category,Descriptiondata as "
    "Description  from Sounddata where 1 = 1 ");
}

class StatementsTest : public QObject {
    Q_OBJECT
private slots:
    void select_data();
    void select();
    void sortMemory_data();
    void sortMemory();
    void insertDoublesEveryQuote_data();
    void insertDoublesEveryQuote();
    void deleteIsBareNumber();
};

void StatementsTest::select_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");
    const QString e;
    QTest::newRow("no filters") << e << e << e << e << kBase + QStringLiteral(" order by 1");
    QTest::newRow("name alone") << QStringLiteral("dog") << e << e << e
                                << kBase +
                                       QStringLiteral(" and [Namedata] Like '%dog%' order by 1");
    QTest::newRow("file alone") << e << QStringLiteral("wav") << e << e
                                << kBase + QStringLiteral(" and FilePAth Like '%wav%' order by 1");
    QTest::newRow("category alone")
        << e << e << QStringLiteral("bark") << e
        << kBase + QStringLiteral(" and Category Like '%bark%' order by 1");
    QTest::newRow("description alone")
        << e << e << e << QStringLiteral("loud")
        << kBase + QStringLiteral(" and Descriptiondata Like '%loud%' order by 1");
    QTest::newRow("two boxes")
        << QStringLiteral("dog") << e << QStringLiteral("bark") << e
        << kBase +
               QStringLiteral(" and [Namedata] Like '%dog%' and Category Like '%bark%' order by 1");
    QTest::newRow("quotes doubled")
        << QStringLiteral("rock'n'roll") << e << e << QStringLiteral("'")
        << kBase + QStringLiteral(
                       " and [Namedata] Like '%rock''n''roll%' and Descriptiondata "
                       "Like '%''%' order by 1");
    QTest::newRow("wildcards kept") << QStringLiteral("%") << QStringLiteral("_") << e << e
                                    << kBase + QStringLiteral(
                                                   " and [Namedata] Like '%%%' and "
                                                   "FilePAth Like '%_%' order by 1");
    QTest::newRow("a lone blank is searched")
        << QStringLiteral(" ") << e << e << e
        << kBase + QStringLiteral(" and [Namedata] Like '% %' order by 1");
    QTest::newRow("comment and semicolon stay inside the literal")
        << QStringLiteral("x'; drop table SoundData; --") << e << e << e
        << kBase +
               QStringLiteral(" and [Namedata] Like '%x''; drop table SoundData; --%' order by 1");
}

void StatementsTest::select() {
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(QString, category);
    QFETCH(QString, description);
    QFETCH(QString, expected);
    qint16 remembered = 0;
    QCOMPARE(buildSelect({name, file, category, description}, 1, remembered), expected);
    QCOMPARE(remembered, qint16(1));
}

void StatementsTest::sortMemory_data() {
    QTest::addColumn<QList<int>>("sequence");
    QTest::addColumn<QStringList>("tails");
    QTest::newRow("1,1") << QList<int>{1, 1}
                         << QStringList{QStringLiteral(" order by 1"),
                                        QStringLiteral(" order by 1")};
    QTest::newRow("3,3,3") << QList<int>{3, 3, 3}
                           << QStringList{QStringLiteral(" order by 3"),
                                          QStringLiteral(" order by 3 Desc "),
                                          QStringLiteral(" order by 3")};
    QTest::newRow("3,4,3") << QList<int>{3, 4, 3}
                           << QStringList{QStringLiteral(" order by 3"),
                                          QStringLiteral(" order by 4"),
                                          QStringLiteral(" order by 3")};
    QTest::newRow("column, filter, column")
        << QList<int>{2, 1, 2}
        << QStringList{QStringLiteral(" order by 2"), QStringLiteral(" order by 1"),
                       QStringLiteral(" order by 2")};
    QTest::newRow("2,2,2,2") << QList<int>{2, 2, 2, 2}
                             << QStringList{QStringLiteral(" order by 2"),
                                            QStringLiteral(" order by 2 Desc "),
                                            QStringLiteral(" order by 2"),
                                            QStringLiteral(" order by 2 Desc ")};
}

void StatementsTest::sortMemory() {
    QFETCH(QList<int>, sequence);
    QFETCH(QStringList, tails);
    qint16 remembered = 0;
    for (int i = 0; i < sequence.size(); ++i) {
        const QString sql = buildSelect({}, static_cast<qint16>(sequence[i]), remembered);
        QCOMPARE(sql, kBase + tails[i]);
    }
}

void StatementsTest::insertDoublesEveryQuote_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("O'Neil's") << QStringLiteral("O'Neil's") << QStringLiteral("'O''Neil''s'");
    QTest::newRow("two quotes") << QStringLiteral("''") << QStringLiteral("''''''");
    QTest::newRow("quote first and last") << QStringLiteral("'a'") << QStringLiteral("'''a'''");
    QTest::newRow("nothing else escaped")
        << QStringLiteral("C:\\a \"b\" %_ ;--") << QStringLiteral("'C:\\a \"b\" %_ ;--'");
    QTest::newRow("blanks kept") << QStringLiteral("  x  ") << QStringLiteral("'  x  '");
    QTest::newRow("empty") << QString() << QStringLiteral("''");
}

void StatementsTest::insertDoublesEveryQuote() {
    QFETCH(QString, name);
    QFETCH(QString, quoted);
    QCOMPARE(quoteText(name), quoted);
    const QString sql = buildInsert(name, QStringLiteral("C:\\Sounds\\bell.wav"), QString(),
                                    QStringLiteral("door"));
    QCOMPARE(sql, QStringLiteral("insert into SoundData (NameData, FilePath, Category, "
                                 "DescriptionData)  values (") +
                      quoted + QStringLiteral(",'C:\\Sounds\\bell.wav','','door')"));
}

void StatementsTest::deleteIsBareNumber() {
    QCOMPARE(buildDelete(QStringLiteral("17")),
             QStringLiteral("delete from sounddata where id = 17"));
}

QTEST_GUILESS_MAIN(StatementsTest)
#include "tst_statements.moc"
