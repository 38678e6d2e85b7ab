// kalvero-cli's import.

#include "cli/clicommands.h"
#include "importer/folderimport.h"
#include "store/dberrortext.h"

#include <QDir>
#include <QFileInfo>

namespace kalvero::cli {

using namespace importer;

namespace {

QString progressLine(const ImportProgress& progress, qint64 elapsedMs) {
    const qint64 found = progress.found.load();
    return QStringLiteral("%1 found, %2 added, %3 skipped, %4 not readable, ")
               .arg(found)
               .arg(progress.added.load())
               .arg(progress.skipped.load())
               .arg(progress.unreadable.load()) +
           rateText(found, elapsedMs);
}

}  // namespace

void nameFilesNotTaken(const ImportResult& result, Console& console) {
    for (const QString& path : result.notSoundFiles)
        console.error(QStringLiteral("Not a sound file: %1").arg(path));
    for (const QString& path : result.unreadableFiles)
        console.error(QStringLiteral("Not a readable sound file: %1").arg(path));
    if (const qint64 more = result.unreadable - result.unreadableFiles.size(); more > 0)
        console.error(counted(more, QStringLiteral("... and %1 more file not readable."),
                              QStringLiteral("... and %1 more files not readable.")));
}

int runImport(Invocation& call) {
    // Every path is checked first: a mistyped one stops the command before anything is stored.
    for (const QString& path : call.arguments) {
        if (!QFileInfo::exists(path)) {
            call.console.error(QStringLiteral("No such file or folder: %1").arg(path));
            return kFailure;
        }
    }
    if (!prepareCatalogue(call)) return kFailure;

    ImportProgress progress;
    ImportResult result;
    runWithProgress(
        call.console, progress.cancel,
        [&] { result = importPaths(call.cataloguePath, call.arguments, progress); },
        [&](qint64 elapsedMs) { return progressLine(progress, elapsedMs); },
        [&] { return progress.found.load() / 1000; });
    nameFilesNotTaken(result, call.console);

    if (result.failure) {
        call.console.error(
            store::describeFailure(QStringLiteral("add to"), call.cataloguePath, *result.failure));
        call.console.print(importSummary(result));
        return kFailure;
    }
    if (result.cancelled) {
        call.console.print(QStringLiteral("Import stopped; what was added is kept. ") +
                           importSummary(result));
        return kFailure;
    }
    call.console.print(importSummary(result));
    // A file named on the command line and left out is a mistake to be told
    // apart from success; what the other paths added stays.
    return result.notSoundFiles.isEmpty() ? kSuccess : kFailure;
}

}  // namespace kalvero::cli
