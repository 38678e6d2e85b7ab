#include "importer/factscsv.h"

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/facts.h"

#include <QSaveFile>

namespace kalvero::importer {

namespace {

void appendQuoted(QByteArray& out, const QByteArray& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

CsvOutcome exportCsvWithFacts(const QString& cataloguePath, const QString& csvPath) {
    CsvOutcome outcome;
    QSaveFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        outcome.error = QStringLiteral("Could not write %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    try {
        store::Connection connection =
            store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
        const bool facts = store::hasFactsTable(connection);
        QByteArray select = "select S.ID, S.NameData, S.FilePath, S.Category, S.DescriptionData";
        if (facts)
            select += ", " + store::factColumnsSql() +
                      " from SoundData S left join SoundFacts F on F.ID = S.ID";
        else
            select += " from SoundData S";
        store::Statement rows(connection, select + " order by S.ID");
        QByteArray out = "ID,NameData,FilePath,Category,DescriptionData";
        for (int f = 0; f < store::kFactCount; ++f)
            out += ',' + QByteArray(store::factName(store::Fact(f)));
        out += "\r\n";
        while (rows.step()) {
            out += rows.textBytes(0);
            for (int c = 1; c <= 4; ++c) {
                out += ',';
                if (!rows.isNull(c)) appendQuoted(out, rows.textBytes(c));
            }
            for (int f = 0; f < store::kFactCount; ++f) {
                out += ',';
                const int c = 5 + f;
                if (!facts || rows.isNull(c)) continue;
                if (store::isNumericFact(store::Fact(f)))
                    out += rows.textBytes(c);
                else
                    appendQuoted(out, rows.textBytes(c));
            }
            out += "\r\n";
            ++outcome.rows;
            if (out.size() > (1 << 20)) {
                file.write(out);
                out.clear();
            }
        }
        file.write(out);
    } catch (const store::DbError& error) {
        file.cancelWriting();
        outcome.error = store::describeFailure(QStringLiteral("read"), cataloguePath, error);
        return outcome;
    }
    if (!file.commit()) {
        outcome.error = QStringLiteral("Could not write %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace kalvero::importer
