// The list's select answered from the entries held in memory against the
// engine itself: a catalogue of a few thousand hostile entries (every script,
// letters that fold across byte lengths, wildcards and quotes as text, empty
// and NULL fields, blobs, broken UTF-8 and NUL written by other tools, many
// equal values) and thousands of random filters and sorts, each run both ways
// and compared row for row, field for field.

#include "store/catalogue.h"
#include "store/heldselect.h"
#include "testsupport.h"

#include <QtTest>
#include <algorithm>
#include <numeric>
#include <random>

using namespace kalvero;
using store::EntryTable;

namespace {

// Pieces the texts are made of. Raw bytes: some are no valid UTF-8 at all.
const char* const kAtoms[] = {"dog",
                              "DOG",
                              "Dög",
                              "straße",
                              "STRASSE",
                              "ẞ",
                              "ß",
                              "ss",
                              "ſ",
                              "s",
                              "S",
                              "\u212A",
                              "k",
                              "K",
                              "\u212B",
                              "å",
                              "Å",
                              "σ",
                              "ς",
                              "Σ",
                              "İ",
                              "ı",
                              "i",
                              "I",
                              "ǅ",
                              "Ǆ",
                              "ǆ",
                              "𐐀",
                              "𐐨",
                              "Ꭰ",
                              "ꭰ",
                              "собака",
                              "СОБАКА",
                              "ёж",
                              "Ёж",
                              "犬の声",
                              "ワン",
                              "🐶",
                              "العربية",
                              "עברית",
                              "Ⴀ",
                              "ⴀ",
                              "Ա",
                              "ա",
                              "%",
                              "_",
                              "100%",
                              "a_b",
                              "'",
                              "''",
                              "\"",
                              "O'Neil",
                              "--",
                              ";",
                              " ",
                              "  ",
                              "\t",
                              "e\xCC\x81",
                              "é",
                              "\xC3(",
                              "\xFF",
                              "\xED\xA0\x80",
                              "\xF4\x90\x80\x80",
                              "\xC0\xAF",
                              "/home/user/Sound Library/",
                              "zz"};

struct Value {
    EntryTable::Kind kind = EntryTable::Kind::Text;
    QByteArray bytes;
};

class Random {
public:
    int below(int n) { return static_cast<int>(engine_() % static_cast<unsigned>(n)); }
    bool percent(int p) { return below(100) < p; }
    QByteArray atoms(int most) {
        QByteArray out;
        for (int i = below(most + 1); i > 0; --i) {
            out += kAtoms[below(static_cast<int>(std::size(kAtoms)))];
            if (percent(30)) out += ' ';
        }
        return out;
    }

private:
    std::mt19937 engine_{20240521u};
};

Value randomValue(Random& dice, const QList<QByteArray>& pool) {
    Value v;
    if (dice.percent(6)) {
        v.kind = EntryTable::Kind::Null;
        return v;
    }
    // Equal values (and values equal but for letter case) are common.
    v.bytes = dice.percent(60) ? pool.at(dice.below(static_cast<int>(pool.size()))) : dice.atoms(6);
    if (dice.percent(3)) v.bytes.insert(dice.below(static_cast<int>(v.bytes.size()) + 1), '\0');
    if (dice.percent(2)) v.kind = EntryTable::Kind::Blob;
    return v;
}

void bind(sqlite3_stmt* st, int i, const Value& v) {
    const int n = static_cast<int>(v.bytes.size());
    if (v.kind == EntryTable::Kind::Null)
        sqlite3_bind_null(st, i);
    else if (v.kind == EntryTable::Kind::Blob)
        sqlite3_bind_blob(st, i, v.bytes.constData(), n, SQLITE_TRANSIENT);
    else
        sqlite3_bind_text(st, i, v.bytes.constData(), n, SQLITE_TRANSIENT);
}

// The rows of `sql` as the window reads them: storage class first, then bytes.
EntryTable readRows(const store::Connection& c, const QString& sql) {
    EntryTable table;
    store::Statement rows(c, sql.toUtf8());
    while (rows.step()) {
        std::string_view fields[EntryTable::kMaxFields];
        EntryTable::Kind kinds[EntryTable::kMaxFields];
        for (int k = 0; k < EntryTable::kMaxFields; ++k) {
            kinds[k] = store::kindOfColumn(rows.type(k));
            int bytes = 0;
            const char* text = rows.text(k, bytes);
            fields[k] = std::string_view(text, static_cast<size_t>(bytes));
        }
        table.append(fields, kinds, EntryTable::kMaxFields);
    }
    return table;
}

// A search text as a user might type it: part of a stored text in other
// letter case, or pieces, wildcards among them.
QString randomSearch(Random& dice, const QList<QByteArray>& pool) {
    QString text;
    if (dice.percent(60)) {
        const QString stored =
            QString::fromUtf8(pool.at(dice.below(static_cast<int>(pool.size()))));
        const int from = dice.below(static_cast<int>(stored.size()) + 1);
        text = stored.mid(from, 1 + dice.below(4));
        if (dice.percent(50)) text = dice.percent(50) ? text.toUpper() : text.toLower();
    } else {
        text = QString::fromUtf8(dice.atoms(2));
    }
    text.remove(QChar(0));
    // A half surrogate pair never reaches a statement (the load shows nothing).
    return QStringView(text).isValidUtf16() ? text : QString();
}

}  // namespace

class HeldSelectTest : public QObject {
    Q_OBJECT
private slots:
    void memoryAnswersAsTheStatement();
};

void HeldSelectTest::memoryAnswersAsTheStatement() {
    test::TempProgramFolder folder;
    folder.createCatalogue();
    Random dice;
    QList<QByteArray> pool;
    for (int i = 0; i < 60; ++i) pool << dice.atoms(4);
    pool << QByteArray() << QByteArray(300, 'x') + "tail" << QByteArray(300, 'x') + "TAIL";
    {
        store::Connection c =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        c.exec("BEGIN");
        sqlite3_stmt* st = nullptr;
        QCOMPARE(sqlite3_prepare_v2(c.handle(),
                                    "insert into SoundData (ID, NameData, FilePath, Category, "
                                    "DescriptionData) values (?, ?, ?, ?, ?)",
                                    -1, &st, nullptr),
                 SQLITE_OK);
        // IDs out of insertion order, a few of them negative.
        std::vector<qint64> ids(4000);
        std::iota(ids.begin(), ids.end(), -40);
        std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
        for (qint64 id : ids) {
            sqlite3_bind_int64(st, 1, id);
            for (int k = 2; k <= 5; ++k) bind(st, k, randomValue(dice, pool));
            QCOMPARE(sqlite3_step(st), SQLITE_DONE);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        c.exec("COMMIT");
    }
    store::Connection c = store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READONLY);
    QVERIFY(store::isPlainCatalogue(c));
    qint16 remembered = 0;
    const EntryTable whole = readRows(c, store::buildSelect({}, 1, remembered));
    QCOMPARE(whole.size(), size_t(4000));
    const std::atomic<bool> cancelled = false;
    const std::unique_ptr<store::ColumnOrders> orders =
        store::ColumnOrders::build(whole, cancelled);
    QVERIFY(orders);
    // Entries deleted since the table was read, as our own deletes leave it.
    std::vector<bool> removed(whole.size());
    {
        store::Connection writer =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        for (int i = 0; i < 150; ++i) {
            const size_t row = static_cast<size_t>(dice.below(static_cast<int>(whole.size())));
            removed[row] = true;
            const std::string_view id = whole.bytes(row, 0);
            writer.exec("delete from SoundData where ID = " +
                        QByteArray(id.data(), static_cast<qsizetype>(id.size())));
        }
    }

    int nonEmpty = 0;
    // The last answer, which a query typed on from it may narrow.
    store::ListQuery previous;
    std::vector<quint32> previousRows;
    for (int q = 0; q < 2500; ++q) {
        const bool typedOn = q > 0 && dice.percent(40);
        store::ListQuery query = typedOn ? previous : store::ListQuery();
        QString* boxes[] = {&query.search.name, &query.search.file, &query.search.category,
                            &query.search.description};
        for (QString* box : boxes) {
            if (typedOn && !box->isEmpty())
                *box = randomSearch(dice, pool).left(1) + *box + randomSearch(dice, pool).left(2);
            else if (dice.percent(typedOn ? 15 : 35))
                *box = randomSearch(dice, pool);
        }
        if (!typedOn) {
            query.sortColumn = 1 + dice.below(5);
            query.descending = query.sortColumn > 1 && dice.percent(50);
        }
        QVERIFY(!typedOn || store::narrows(previous.search, query.search));
        remembered = query.descending ? query.sortColumn : 0;
        const QString sql = store::buildSelect(query.search, query.sortColumn, remembered);

        const EntryTable expected = readRows(c, sql);
        const std::optional<std::vector<quint32>> got = store::selectHeld(
            whole, orders.get(), query, [] { return true; }, &removed,
            typedOn ? &previousRows : nullptr);
        QVERIFY(got);
        previous = query;
        previousRows = *got;
        QVERIFY2(got->size() == expected.size(),
                 qPrintable(QStringLiteral("%1 rows, the statement gives %2: %3")
                                .arg(got->size())
                                .arg(expected.size())
                                .arg(sql)));
        for (size_t r = 0; r < expected.size(); ++r) {
            for (int k = 0; k < EntryTable::kMaxFields; ++k) {
                if (whole.bytes((*got)[r], k) == expected.bytes(r, k) &&
                    whole.kind((*got)[r], k) == expected.kind(r, k))
                    continue;
                QFAIL(qPrintable(QStringLiteral("row %1 field %2 differs (ID %3 instead of %4): %5")
                                     .arg(r + 1)
                                     .arg(k + 1)
                                     .arg(QString::fromUtf8(whole.bytes((*got)[r], 0)))
                                     .arg(QString::fromUtf8(expected.bytes(r, 0)))
                                     .arg(sql)));
            }
        }
        if (expected.size() > 1) ++nonEmpty;
    }
    // A box emptied, or a text that no longer holds the earlier one, may keep more rows.
    const QString dog = QStringLiteral("dog"), og = QStringLiteral("og");
    QVERIFY(!store::narrows({dog, {}, {}, {}}, {{}, {}, {}, {}}));
    QVERIFY(!store::narrows({dog, {}, {}, {}}, {og, {}, {}, {}}));
    QVERIFY(!store::narrows({{}, dog, {}, {}}, {dog, og, {}, {}}));
    // The queries must not all have found next to nothing.
    QVERIFY2(nonEmpty > 1000, qPrintable(QString::number(nonEmpty)));
}

QTEST_GUILESS_MAIN(HeldSelectTest)
#include "tst_heldselect.moc"
