// kalvero-cli's analyse: audio hash, loudness and peak of the entries' files,
// kept among their facts.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "reconcile/catalogueanalysis.h"
#include "store/dberrortext.h"

namespace kalvero::cli {

using importer::counted;
using reconcile::AnalysisProgress;
using reconcile::CatalogueAnalysisResult;

namespace {

const QCommandLineOption& allOption() {
    static const QCommandLineOption option(
        QStringLiteral("all"),
        QStringLiteral("Analyse every file again, even those whose analysis is up to date."));
    return option;
}

QString files(qint64 count) {
    return counted(count, QStringLiteral("%1 file"), QStringLiteral("%1 files"));
}

// "120 of 400 files analysed, 35 files/s, about 8 s left"
QString progressLine(const AnalysisProgress& progress, qint64 elapsedMs) {
    const qint64 done = progress.done.load();
    const qint64 total = progress.toAnalyse.load();
    QString line = QStringLiteral("%1 of %2 analysed, ").arg(done).arg(files(total)) +
                   rateText(done, elapsedMs);
    if (done > 0 && total > done) {
        const qint64 leftSeconds = std::max<qint64>((total - done) * elapsedMs / done / 1000, 1);
        line += leftSeconds < 120 ? QStringLiteral(", about %1 s left").arg(leftSeconds)
                                  : QStringLiteral(", about %1 min left").arg(leftSeconds / 60);
    }
    return line;
}

// "Analysed 12 files; 300 were up to date, 2 have no file, 1 could not be analysed."
QString summary(const CatalogueAnalysisResult& result) {
    QString text = QStringLiteral("Analysed %1").arg(files(result.analysed));
    QStringList others;
    if (result.unchanged > 0)
        others << counted(result.unchanged, QStringLiteral("%1 was up to date"),
                          QStringLiteral("%1 were up to date"));
    if (result.noFile > 0)
        others << counted(result.noFile, QStringLiteral("%1 has no file"),
                          QStringLiteral("%1 have no file"));
    if (!result.failed.isEmpty())
        others << counted(result.failed.size(), QStringLiteral("%1 could not be analysed"),
                          QStringLiteral("%1 could not be analysed"));
    if (!others.isEmpty()) text += QStringLiteral("; ") + others.join(QStringLiteral(", "));
    return text + QLatin1Char('.');
}

}  // namespace

std::vector<QCommandLineOption> analyseOptions() { return {allOption()}; }

int runAnalyse(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    AnalysisProgress progress;
    CatalogueAnalysisResult result;
    const bool all = call.parser.isSet(allOption());
    runWithProgress(
        call.console, progress.cancel,
        [&] { result = reconcile::analyseCatalogue(call.cataloguePath, all, progress); },
        [&](qint64 elapsedMs) { return progressLine(progress, elapsedMs); },
        [&] { return progress.done.load() / 100; });
    for (const reconcile::AnalysisFailure& failed : result.failed)
        call.console.error(QStringLiteral("Not analysed: %1: %2").arg(failed.path, failed.reason));
    if (result.failure) {
        call.console.error(
            store::describeFailure(QStringLiteral("change"), call.cataloguePath, *result.failure));
        call.console.print(QStringLiteral("What was stored before is kept. ") + summary(result));
        return kFailure;
    }
    if (result.cancelled) {
        call.console.print(QStringLiteral("Analysis stopped; what was analysed is kept. ") +
                           summary(result));
        return kFailure;
    }
    call.console.print(summary(result));
    return kSuccess;
}

}  // namespace kalvero::cli
