#include "store/facts.h"

#include <QSet>
#include <limits>

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
    {"AudioHash", false},
    {"Loudness", false},
    {"LoudnessRange", false},
    {"SamplePeak", false},
    {"AnalysedSize", true},
    {"AnalysedModified", true},
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

namespace {

// The table's columns, in lower case (names compare case-blind in SQL).
QSet<QByteArray> presentColumns(const Connection& connection) {
    QSet<QByteArray> present;
    Statement columns(connection, QByteArrayLiteral("PRAGMA table_info(SoundFacts)"));
    while (columns.step()) present.insert(columns.textBytes(1).toLower());
    return present;
}

}  // namespace

bool hasFactColumn(const Connection& connection, Fact fact) {
    return hasFactsTable(connection) &&
           presentColumns(connection).contains(QByteArray(factName(fact)).toLower());
}

bool ensureFactsColumns(Connection& connection) {
    if (!hasFactsTable(connection)) {
        QByteArray create = "CREATE TABLE SoundFacts (ID INTEGER PRIMARY KEY";
        for (int i = 0; i < kFactCount; ++i)
            create += ", " + QByteArray(kColumns[i].name) + columnType(i);
        connection.exec(create + ')');
        return true;
    }
    const QSet<QByteArray> present = presentColumns(connection);
    bool changed = false;
    for (int i = 0; i < kFactCount; ++i) {
        if (!present.contains(QByteArray(kColumns[i].name).toLower())) {
            connection.exec("ALTER TABLE SoundFacts ADD COLUMN " + QByteArray(kColumns[i].name) +
                            columnType(i));
            changed = true;
        }
    }
    return changed;
}

void prepareFactsTable(Connection& connection) {
    if (ensureFactsColumns(connection)) return;
    // Entries other programs deleted leave their facts behind.
    connection.exec("DELETE FROM SoundFacts WHERE ID NOT IN (SELECT ID FROM SoundData)");
}

namespace {

// Digits only, as the import writes them; anything else is stored as text.
// (QString::toLongLong would cost more than the rest of the row.)
bool wholeNumber(const QString& text, qint64& number) {
    if (text.size() > 19) return false;
    number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        const int digit = c.unicode() - '0';
        // Nanoseconds since the epoch take 19 digits; beyond qint64 it is text.
        if (number > (std::numeric_limits<qint64>::max() - digit) / 10) return false;
        number = number * 10 + digit;
    }
    return true;
}

// Binds `value` as the column of `fact` keeps it.
void bindFact(Statement& statement, int index, Fact fact, const QString& value) {
    qint64 number = 0;
    if (value.isEmpty())
        statement.bindNull(index);
    else if (isNumericFact(fact) && wholeNumber(value, number))
        statement.bindInt64(index, number);
    else
        statement.bindText(index, QStringView(value));
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
    for (int i = 0; i < kFactCount; ++i) bindFact(insert_, i + 2, Fact(i), facts[Fact(i)]);
    insert_.step();
    insert_.reset();
}

namespace {

QByteArray updateSql(const QList<Fact>& facts) {
    QByteArray sql = "UPDATE SoundFacts SET ";
    for (qsizetype i = 0; i < facts.size(); ++i)
        sql += (i ? ", " : "") + QByteArray(factName(facts[i])) + " = ?";
    return sql + " WHERE ID = ?";
}

// Numbered parameters: the ID is also the condition, so that an entry deleted
// meanwhile gets no row of facts.
QByteArray partialInsertSql(const QList<Fact>& facts) {
    QByteArray sql = "INSERT INTO SoundFacts (";
    QByteArray values;
    for (qsizetype i = 0; i < facts.size(); ++i) {
        sql += QByteArray(factName(facts[i])) + ", ";
        values += '?' + QByteArray::number(i + 1) + ", ";
    }
    const QByteArray id = '?' + QByteArray::number(facts.size() + 1);
    return sql + "ID) SELECT " + values + id +
           " WHERE EXISTS (SELECT 1 FROM SoundData WHERE ID = " + id + ')';
}

}  // namespace

FactsUpdater::FactsUpdater(Connection& connection, QList<Fact> facts)
    : connection_(connection),
      facts_(std::move(facts)),
      update_(connection, updateSql(facts_)),
      insert_(connection, partialInsertSql(facts_)) {}

void FactsUpdater::bind(Statement& statement, qint64 id, const FactValues& values) {
    statement.reset();
    for (qsizetype i = 0; i < facts_.size(); ++i)
        bindFact(statement, int(i) + 1, facts_[i], values[facts_[i]]);
    statement.bindInt64(int(facts_.size()) + 1, id);
}

void FactsUpdater::write(qint64 id, const FactValues& values) {
    // Both statements name the same columns in the same order, the ID last.
    bind(update_, id, values);
    update_.step();
    update_.reset();
    if (sqlite3_changes(connection_.handle()) > 0) return;
    bind(insert_, id, values);
    insert_.step();
    insert_.reset();
}

QByteArray factColumnsSql(const Connection& connection) {
    const QSet<QByteArray> present = presentColumns(connection);
    QByteArray sql;
    for (int i = 0; i < kFactCount; ++i) {
        if (i) sql += ", ";
        const QByteArray name(kColumns[i].name);
        sql += present.contains(name.toLower()) ? "F." + name : QByteArrayLiteral("NULL");
    }
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
    Statement row(connection, "select " + factColumnsSql(connection) +
                                  " from SoundFacts F join SoundData S on S.ID = F.ID "
                                  "where F.ID = ?");
    row.bindInt64(1, id);
    if (!row.step()) return std::nullopt;
    return factsFromRow(row, 0);
}

}  // namespace kalvero::store
