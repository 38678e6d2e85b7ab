#include "store/facts.h"

#include <QSet>

namespace kalvero::store {

namespace {

struct Column {
    const char* name;
    bool numeric;
};

constexpr Column kColumns[kFactCount] = {
    {"Title", false},
    {"Description", false},
    {"Artist", false},
    {"Originator", false},
    {"OriginatorReference", false},
    {"OriginationDate", false},
    {"Keywords", false},
    {"Genre", false},
    {"Library", false},
    {"Copyright", false},
    {"CatID", false},
    {"UCSCategory", false},
    {"UserCategory", false},
    {"VendorCategory", false},
    {"FXName", false},
    {"CreatorID", false},
    {"SourceID", false},
    {"UserData", false},
    {"Container", false},
    {"Codec", false},
    {"SampleRate", true},
    {"BitDepth", true},
    {"Channels", true},
    {"Frames", true},
    {"Duration", false},
    {"FileSize", true},
    {"Modified", false},
};

QByteArray columnType(int i) {
    return kColumns[i].numeric ? QByteArrayLiteral(" INTEGER") : QByteArrayLiteral(" TEXT");
}

}  // namespace

const char* factName(Fact fact) { return kColumns[int(fact)].name; }

bool isNumericFact(Fact fact) { return kColumns[int(fact)].numeric; }

bool FactValues::isEmpty() const {
    return std::all_of(values_.begin(), values_.end(),
                       [](const QString& value) { return value.isEmpty(); });
}

bool hasFactsTable(const Connection& connection) {
    Statement table(connection, QByteArrayLiteral("select 1 from sqlite_master where type = "
                                                  "'table' and name = 'SoundFacts'"));
    return table.step();
}

void prepareFactsTable(Connection& connection) {
    if (!hasFactsTable(connection)) {
        QByteArray create = "CREATE TABLE SoundFacts (ID INTEGER PRIMARY KEY";
        for (int i = 0; i < kFactCount; ++i)
            create += ", " + QByteArray(kColumns[i].name) + columnType(i);
        connection.exec(create + ')');
        return;
    }
    QSet<QByteArray> present;
    {
        Statement columns(connection, QByteArrayLiteral("PRAGMA table_info(SoundFacts)"));
        while (columns.step()) present.insert(columns.textBytes(1).toLower());
    }
    for (int i = 0; i < kFactCount; ++i) {
        if (!present.contains(QByteArray(kColumns[i].name).toLower()))
            connection.exec("ALTER TABLE SoundFacts ADD COLUMN " + QByteArray(kColumns[i].name) +
                            columnType(i));
    }
    // Entries other programs deleted leave their facts behind.
    connection.exec("DELETE FROM SoundFacts WHERE ID NOT IN (SELECT ID FROM SoundData)");
}

namespace {

// Digits only, as the import writes them; anything else is stored as text.
// (QString::toLongLong would cost more than the rest of the row.)
bool wholeNumber(const QString& text, qint64& number) {
    if (text.size() > 18) return false;
    number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        number = number * 10 + (c.unicode() - '0');
    }
    return true;
}

QByteArray insertSql() {
    QByteArray sql = "INSERT OR REPLACE INTO SoundFacts (ID";
    QByteArray values = "?";
    for (int i = 0; i < kFactCount; ++i) {
        sql += ", " + QByteArray(kColumns[i].name);
        values += ", ?";
    }
    return sql + ") VALUES (" + values + ')';
}

}  // namespace

FactsWriter::FactsWriter(Connection& connection) : insert_(connection, insertSql()) {}

void FactsWriter::write(qint64 id, const FactValues& facts) {
    insert_.reset();
    insert_.bindInt64(1, id);
    for (int i = 0; i < kFactCount; ++i) {
        const QString& value = facts[Fact(i)];
        qint64 number = 0;
        if (value.isEmpty())
            insert_.bindNull(i + 2);
        else if (kColumns[i].numeric && wholeNumber(value, number))
            insert_.bindInt64(i + 2, number);
        else
            insert_.bindText(i + 2, QStringView(value));
    }
    insert_.step();
    insert_.reset();
}

QByteArray factColumnsSql() {
    QByteArray sql;
    for (int i = 0; i < kFactCount; ++i) sql += (i ? ", F." : "F.") + QByteArray(kColumns[i].name);
    return sql;
}

FactValues factsFromRow(const Statement& row, int first) {
    FactValues facts;
    for (int i = 0; i < kFactCount; ++i)
        facts[Fact(i)] = QString::fromUtf8(row.textBytes(first + i));
    return facts;
}

std::optional<FactValues> readFacts(const Connection& connection, qint64 id) {
    if (!hasFactsTable(connection)) return std::nullopt;
    Statement row(connection, "select " + factColumnsSql() +
                                  " from SoundFacts F join SoundData S on S.ID = F.ID "
                                  "where F.ID = ?");
    row.bindInt64(1, id);
    if (!row.step()) return std::nullopt;
    return factsFromRow(row, 0);
}

}  // namespace kalvero::store
