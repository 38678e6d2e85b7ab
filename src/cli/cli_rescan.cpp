// kalvero-cli's rescan: the catalogue brought in step with folders that changed.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "reconcile/rescan.h"
#include "store/dberrortext.h"

#include <QFileInfo>

namespace kalvero::cli {

using importer::counted;
using reconcile::RescanProgress;
using reconcile::RescanResult;

namespace {

// "20000 found, 12 added, 3 read again, 9000 files/s"
QString progressLine(const RescanProgress& progress, qint64 elapsedMs) {
    const qint64 found = progress.found.load();
    return QStringLiteral("%1 found, %2 added, %3 read again, ")
               .arg(found)
               .arg(progress.added.load())
               .arg(progress.changed.load()) +
           rateText(found, elapsedMs);
}

}  // namespace

int runRescan(Invocation& call) {
    // A mistyped folder stops the command before anything is stored.
    for (const QString& path : call.arguments) {
        if (!QFileInfo::exists(path)) {
            call.console.error(QStringLiteral("No such file or folder: %1").arg(path));
            return kFailure;
        }
    }
    if (!catalogueExists(call)) return kFailure;

    RescanProgress progress;
    RescanResult result;
    runWithProgress(
        call.console, progress.cancel,
        [&] { result = reconcile::rescanFolders(call.cataloguePath, call.arguments, progress); },
        [&](qint64 elapsedMs) { return progressLine(progress, elapsedMs); },
        [&] { return progress.found.load() / 1000; });

    // The gone entries as `missing` lists them, so that a script reads both alike.
    for (qsizetype i = 0; i < result.gone.size() && i < reconcile::kListedGoneEntries; ++i)
        call.console.print(
            QStringLiteral("%1\t%2").arg(result.gone[i].id).arg(escapedField(result.gone[i].path)));
    if (const qsizetype more = result.gone.size() - reconcile::kListedGoneEntries; more > 0)
        call.console.error(counted(more,
                                   QStringLiteral("... and %1 more entry whose file is gone."),
                                   QStringLiteral("... and %1 more entries whose file is gone.")));
    nameFilesNotTaken(result.import, call.console);

    const QString summary = reconcile::rescanSummary(result);
    if (result.failure) {
        call.console.error(
            store::describeFailure(QStringLiteral("change"), call.cataloguePath, *result.failure));
        call.console.error(QStringLiteral("What was stored before is kept. ") + summary);
        return kFailure;
    }
    if (result.cancelled) {
        call.console.error(QStringLiteral("Rescan stopped; what was stored is kept. ") + summary);
        return kFailure;
    }
    call.console.error(summary);
    // Like prune's: a folder that looks unplugged left what was asked undone.
    return result.unplugged.isEmpty() ? kSuccess : kFailure;
}

}  // namespace kalvero::cli
