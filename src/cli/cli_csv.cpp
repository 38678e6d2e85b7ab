// kalvero-cli's export and import-csv.

#include "cli/clicommands.h"
#include "importer/csvtransfer.h"
#include "importer/factscsv.h"

#include <QDir>
#include <QFileInfo>

namespace kalvero::cli {

using namespace importer;

namespace {

const QCommandLineOption& factsOption() {
    static const QCommandLineOption option(
        QStringLiteral("facts"),
        QStringLiteral("Add a column per fact the import read (tags, UCS fields, format)."));
    return option;
}

}  // namespace

std::vector<QCommandLineOption> exportOptions() { return {factsOption()}; }

int runExport(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    const CsvOutcome outcome =
        call.parser.isSet(factsOption())
            ? exportCsvWithFacts(call.cataloguePath, call.arguments.constFirst())
            : exportCsv(call.cataloguePath, call.arguments.constFirst());
    if (!outcome.ok) {
        call.console.error(outcome.error);
        return kFailure;
    }
    call.console.print(QStringLiteral("Exported %1 entries to %2.")
                           .arg(outcome.rows)
                           .arg(QDir::toNativeSeparators(call.arguments.constFirst())));
    return kSuccess;
}

int runImportCsv(Invocation& call) {
    if (!QFileInfo::exists(call.arguments.constFirst())) {
        call.console.error(QStringLiteral("No such file: %1").arg(call.arguments.constFirst()));
        return kFailure;
    }
    if (!prepareCatalogue(call)) return kFailure;
    const CsvOutcome outcome = importCsv(call.cataloguePath, call.arguments.constFirst());
    if (!outcome.ok) {
        call.console.error(outcome.error);
        return kFailure;
    }
    call.console.print(QStringLiteral("Added %1 entries.").arg(outcome.rows));
    return kSuccess;
}

}  // namespace kalvero::cli
