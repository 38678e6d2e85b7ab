// Case folding in LIKE and in the NOCASE collation, through the real engine:
// every script folds, % and _ stay wildcards, ordering is consistent.

#include "store/catalogue.h"
#include "store/unicodefold.h"
#include "testsupport.h"

#include <QtTest>
#include <algorithm>
#include <random>

using namespace kalvero::store;
using kalvero::test::Entry;
using kalvero::test::TempProgramFolder;

class UnicodeFoldTest : public QObject {
    Q_OBJECT
private slots:
    void like_data();
    void like();
    void malformedBytesAreNoWildcards();
    void likeThroughEngine();
    void orderIsConsistent();
    void orderThroughEngine();
};

void UnicodeFoldTest::like_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");
    auto row = [](const char* tag, const char* p, const char* t, bool m) {
        QTest::newRow(tag) << QString::fromUtf8(p) << QString::fromUtf8(t) << m;
    };
    row("ascii case", "%DOG%", "hotdog stand", true);
    row("accented upper finds lower", "%ÄPFEL%", "grüne äpfel", true);
    row("accented lower finds upper", "%ä%", "Äpfel", true);
    row("cyrillic", "%СОБАКА%", "лает собака", true);
    row("greek final sigma folds to sigma", "%ΟΔΟΣ%", "οδος", true);
    row("different letters", "%dog%", "cat", false);
    row("percent alone", "%", "", true);
    row("underscore is one character", "d_g", "DOG", true);
    row("underscore needs a character", "d_g", "dg", false);
    row("underscore takes one accented character", "_pfel", "Äpfel", true);
    row("anchored without percent", "dog", "dogs", false);
    row("blank searched", "% %", "nospace", false);
    row("blank found", "% %", "a b", true);
    row("backtracking", "%ab%ab%c", "xxabyyabzzabc", true);
    row("emoji literal", "%🐶%", "my 🐶 barks", true);
    row("cjk", "%犬%", "小さい犬", true);
    row("kelvin sign folds to k", "%k%", "\u212A", true);
    row("long s folds to s", "%S%", "\u017F", true);
    row("ascii infix across letters of other lengths", "%ASK%", "ta\u017F\u212A!", true);
    row("ascii infix among other scripts", "%th%", "Дождь THunder", true);
    row("ascii infix at the very end", "%der%", "thunDER", true);
    row("ascii infix not there", "%th%", "Дождь tuh", false);
    row("ascii infix longer than the text", "%thunder%", "thund", false);
}

void UnicodeFoldTest::like() {
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, matches);
    const QByteArray p = pattern.toUtf8(), t = text.toUtf8();
    QCOMPARE(LikePattern(std::string_view(p.constData(), p.size()))
                 .matches(std::string_view(t.constData(), t.size())),
             matches);
}

void UnicodeFoldTest::malformedBytesAreNoWildcards() {
    // An overlong "%" and a sequence past U+10FFFF must stay literal bytes.
    const std::string overlongPercent = "a\xE0\x80\xA5";
    const std::string pastUnicode = "a\xF4\x90\x80\x80";
    for (const std::string& pattern : {overlongPercent, pastUnicode}) {
        const LikePattern like(pattern);
        QVERIFY(!like.matches("abc"));
        QVERIFY(!like.matches("a"));
        QVERIFY(like.matches(pattern));
    }
    // Malformed bytes never equal a real character: overlong forms, and lead
    // bytes F5..FF that are no lead byte at all.
    const std::pair<std::string, std::string> distinct[] = {
        {"\xC1\x81", "A"},                 // overlong "A"
        {"\xE0\x80\xA5", "%"},             // overlong "%"
        {"\xF8\x80\x80", "\xE8\x80\x80"},  // F8 is no lead byte: not U+8000
        {"\xFF\xBF\xBF", "\xEF\xBF\xBF"},  // not U+FFFF
    };
    for (const auto& [bytes, character] : distinct) {
        QVERIFY2(compareNoCase(bytes, character) != 0, character.c_str());
        if (character != "%") QVERIFY(!LikePattern(character).matches(bytes));
        QVERIFY(!LikePattern(bytes).matches(character));
    }
    // Three malformed bytes are three characters, not one (U+D800).
    QVERIFY(!LikePattern("_").matches("\xFD\xA0\x80"));
    QVERIFY(LikePattern("___").matches("\xFD\xA0\x80"));
}

void UnicodeFoldTest::likeThroughEngine() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("Äpfel"), QStringLiteral("a.wav"), {}, {}},
                            {0, QStringLiteral("СОБАКА"), QStringLiteral("b.wav"), {}, {}},
                            {0, QStringLiteral("plain"), QStringLiteral("c.wav"), {}, {}},
                            {0, QString(), QStringLiteral("d.wav"), {}, {}}});
    Connection c = openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READONLY);
    auto count = [&c](const char* where) {
        Statement st(c, QByteArray("select count(*) from SoundData where ") + where);
        st.step();
        return st.textBytes(0).toInt();
    };
    QCOMPARE(count("NameData like '%ä%'"), 1);
    QCOMPARE(count("NameData like '%собака%'"), 1);
    QCOMPARE(count("NameData like '%'"), 3);  // NULL never matches
    QCOMPARE(count("NameData like '%!%%' escape '!'"), 0);
    QCOMPARE(count("FilePath like '%!.wav' escape '!'"), 4);
    QCOMPARE(count("NameData = 'äPFEL'"), 1);  // the column's NOCASE is ours too
}

void UnicodeFoldTest::orderIsConsistent() {
    // A collation must be a total order, or the engine's sort goes wrong.
    QStringList words = {
        QStringLiteral("apple"),  QStringLiteral("Äpfel"), QStringLiteral("äpfel"),
        QStringLiteral("Zebra"),  QStringLiteral("zebra"), QStringLiteral("собака"),
        QStringLiteral("Собака"), QStringLiteral("_"),     QStringLiteral("a"),
        QStringLiteral(""),       QStringLiteral("ß"),     QStringLiteral("SS"),
        QStringLiteral("\u212A"), QStringLiteral("k"),     QStringLiteral("K9")};
    std::vector<QByteArray> bytes;
    for (const QString& w : words) bytes.push_back(w.toUtf8());
    bytes.push_back(QByteArray("\xff\xfe bad", 6));
    auto cmp = [](const QByteArray& a, const QByteArray& b) {
        return compareNoCase({a.constData(), size_t(a.size())}, {b.constData(), size_t(b.size())});
    };
    for (const auto& a : bytes) {
        QCOMPARE(cmp(a, a), 0);
        for (const auto& b : bytes) {
            QCOMPARE(cmp(a, b) < 0, cmp(b, a) > 0);
            for (const auto& c : bytes) {
                if (cmp(a, b) <= 0 && cmp(b, c) <= 0) QVERIFY(cmp(a, c) <= 0);
            }
        }
    }
    QCOMPARE(cmp("ÄPFEL", "äpfel"), 0);
    QVERIFY(cmp("apple", "Banana") < 0);
    QVERIFY(cmp("Zebra", "apple") > 0);
}

void UnicodeFoldTest::orderThroughEngine() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("b"), QStringLiteral("1"), {}, {}},
                            {0, QStringLiteral("Ä"), QStringLiteral("2"), {}, {}},
                            {0, QStringLiteral("A"), QStringLiteral("3"), {}, {}},
                            {0, QStringLiteral("C"), QStringLiteral("4"), {}, {}},
                            {0, QStringLiteral("ä"), QStringLiteral("5"), {}, {}}});
    Connection c = openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READONLY);
    Statement st(c, "select FilePath from SoundData order by NameData, FilePath");
    QStringList order;
    while (st.step()) order << QString::fromUtf8(st.textBytes(0));
    // Letter case never splits a name: A before b before C, Ä with ä.
    QCOMPARE(order, (QStringList{QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("4"),
                                 QStringLiteral("2"), QStringLiteral("5")}));
}

QTEST_GUILESS_MAIN(UnicodeFoldTest)
#include "tst_unicodefold.moc"
