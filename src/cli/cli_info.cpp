// kalvero-cli's info: every text and fact the catalogue holds about entries.

#include "cli/clicommands.h"
#include "reconcile/catalogueanalysis.h"
#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/facts.h"
#include "store/transaction.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kalvero::cli {

namespace {

const QCommandLineOption& jsonOption() {
    static const QCommandLineOption option(QStringLiteral("json"),
                                           QStringLiteral("Print the entries as one JSON array."));
    return option;
}

constexpr const char* kEntryColumns[] = {"ID", "NameData", "FilePath", "Category",
                                         "DescriptionData"};

// One entry: its five columns (a NULL text is a null value) and its facts.
struct EntryRecord {
    QJsonObject fields;
    QStringList lines;
};

QList<EntryRecord> readEntries(const store::Connection& connection, const QString& wanted) {
    const bool facts = store::hasFactsTable(connection);
    const QByteArray select = "select S.ID, S.NameData, S.FilePath, S.Category, S.DescriptionData" +
                              (facts ? ", " + store::factColumnsSql(connection) +
                                           " from SoundData S left join SoundFacts F on "
                                           "F.ID = S.ID"
                                     : QByteArray(" from SoundData S"));
    auto query = [&](const QByteArray& where, const QString& value) {
        store::Statement rows(connection, select + " where " + where + " order by S.ID");
        if (where.startsWith("S.ID"))
            rows.bindInt64(1, value.toLongLong());
        else
            rows.bindText(1, value.toUtf8());
        QList<EntryRecord> records;
        while (rows.step()) {
            EntryRecord record;
            record.fields.insert(QStringLiteral("ID"), rows.int64(0));
            record.lines << QStringLiteral("ID: %1").arg(rows.int64(0));
            for (int c = 1; c < 5; ++c) {
                const QString name = QLatin1String(kEntryColumns[c]);
                const QString text = QString::fromUtf8(rows.textBytes(c));
                record.fields.insert(name, rows.isNull(c) ? QJsonValue() : QJsonValue(text));
                record.lines << name + QStringLiteral(": ") + escapedField(text);
            }
            if (facts) {
                const store::FactValues values = store::factsFromRow(rows, 5);
                for (int f = 0; f < store::kFactCount; ++f) {
                    const QString& value = values[store::Fact(f)];
                    if (value.isEmpty()) continue;
                    const QString name = QLatin1String(store::factName(store::Fact(f)));
                    record.fields.insert(name, store::isNumericFact(store::Fact(f))
                                                   ? QJsonValue(value.toLongLong())
                                                   : QJsonValue(value));
                    record.lines << name + QStringLiteral(": ") +
                                        escapedField(reconcile::shownFact(store::Fact(f), value));
                }
            }
            records << record;
        }
        return records;
    };
    // A number names an ID; a path is compared exactly, as given and made absolute.
    bool number = false;
    wanted.toLongLong(&number);
    QList<EntryRecord> found = number ? query("S.ID = ?", wanted) : QList<EntryRecord>();
    if (found.isEmpty()) found = query("S.FilePath = ? collate binary", wanted);
    const QString absolute = QFileInfo(wanted).absoluteFilePath();
    if (found.isEmpty() && absolute != wanted)
        found = query("S.FilePath = ? collate binary", absolute);
    return found;
}

}  // namespace

std::vector<QCommandLineOption> infoOptions() { return {jsonOption()}; }

int runInfo(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    const bool json = call.parser.isSet(jsonOption());
    QJsonArray all;
    QStringList blocks;
    bool allFound = true;
    try {
        store::Connection connection = store::openCatalogueFile(
            call.cataloguePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
        sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
        for (const QString& wanted : call.arguments) {
            const QList<EntryRecord> records = readEntries(connection, wanted);
            if (records.isEmpty()) {
                call.console.error(QStringLiteral("No entry has the ID or path %1.").arg(wanted));
                allFound = false;
            }
            for (const EntryRecord& record : records) {
                all.append(record.fields);
                blocks << record.lines.join(QLatin1Char('\n'));
            }
        }
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("read"), call.cataloguePath, error));
        return kFailure;
    }
    if (json)
        call.console.print(
            QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
    else if (!blocks.isEmpty())
        call.console.print(blocks.join(QStringLiteral("\n\n")));
    return allFound ? kSuccess : kFailure;
}

}  // namespace kalvero::cli
