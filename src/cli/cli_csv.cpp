// kalvero-cli's export and import-csv.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "importer/csvtransfer.h"

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kalvero::cli {

using namespace importer;

namespace {

const QCommandLineOption& updateOption() {
    static const QCommandLineOption option(
        QStringLiteral("update"),
        QStringLiteral("A row whose ID names an entry replaces that entry's texts (in the "
                       "columns the file has); other rows are added."));
    return option;
}

const QCommandLineOption& factsOption() {
    static const QCommandLineOption option(
        QStringLiteral("facts"),
        QStringLiteral("Add a column per fact the import read (tags, UCS fields, format)."));
    return option;
}

QString rows(qint64 n) { return counted(n, QStringLiteral("%1 row"), QStringLiteral("%1 rows")); }

// The CSV goes to standard output as it is read; the summary then goes to
// standard error, so that what is piped on is the CSV alone.
CsvOutcome exportToStandardOutput(const QString& cataloguePath, bool facts) {
    std::fflush(stdout);
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered,
                  QFileDevice::DontCloseHandle)) {
        CsvOutcome outcome;
        outcome.error =
            QStringLiteral("The export failed: could not write to standard output (%1).")
                .arg(out.errorString());
        return outcome;
    }
    return exportCsv(cataloguePath, out, QStringLiteral("to standard output"), facts);
}

}  // namespace

std::vector<QCommandLineOption> exportOptions() { return {factsOption()}; }

std::vector<QCommandLineOption> importCsvOptions() { return {updateOption()}; }

int runExport(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    const QString& target = call.arguments.constFirst();
    const bool toStandardOutput = target == QLatin1String("-");
    const bool facts = call.parser.isSet(factsOption());
    const CsvOutcome outcome = toStandardOutput ? exportToStandardOutput(call.cataloguePath, facts)
                                                : exportCsv(call.cataloguePath, target, facts);
    if (!outcome.ok) {
        call.console.error(outcome.error);
        return kFailure;
    }
    if (toStandardOutput) {
        call.console.error(QStringLiteral("Exported %1.").arg(entries(outcome.rows)));
    } else {
        call.console.print(QStringLiteral("Exported %1 to %2.")
                               .arg(entries(outcome.rows), QDir::toNativeSeparators(target)));
    }
    return kSuccess;
}

int runImportCsv(Invocation& call) {
    const QString& source = call.arguments.constFirst();
    if (!QFileInfo::exists(source)) {
        call.console.error(QStringLiteral("No such file: %1").arg(source));
        return kFailure;
    }
    if (!prepareCatalogue(call)) return kFailure;
    const bool update = call.parser.isSet(updateOption());
    const CsvOutcome outcome =
        importCsv(call.cataloguePath, source, update ? CsvImport::Update : CsvImport::Add);
    if (!outcome.ok) {
        call.console.error(outcome.error);
        call.console.error(QStringLiteral("Nothing was changed."));
        return kFailure;
    }
    if (update) {
        call.console.print(
            QStringLiteral("Updated %1, added %2; %3 unchanged.")
                .arg(entries(outcome.updated), entries(outcome.rows), rows(outcome.unchanged)));
    } else if (outcome.skipped > 0) {
        call.console.print(QStringLiteral("Added %1; skipped %2 already in the catalogue.")
                               .arg(entries(outcome.rows), rows(outcome.skipped)));
    } else {
        call.console.print(QStringLiteral("Added %1.").arg(entries(outcome.rows)));
    }
    return kSuccess;
}

}  // namespace kalvero::cli
