// kalvero-cli's import.

#include "cli/clicommands.h"
#include "importer/folderimport.h"
#include "store/dberrortext.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <thread>

namespace kalvero::cli {

using namespace importer;

namespace {

std::atomic<bool>* interruptFlag = nullptr;

// Ctrl+C stops after the current batch, as Cancel does in the window.
extern "C" void onInterrupt(int) {
    if (interruptFlag) interruptFlag->store(true);
}

QString progressLine(const ImportProgress& progress, qint64 elapsedMs) {
    const qint64 found = progress.found.load();
    const double seconds = std::max<qint64>(elapsedMs, 1) / 1000.0;
    const qint64 rate = qRound64(double(found) / seconds);
    return QStringLiteral("%1 found, %2 added, %3 skipped, %4 not readable, ")
               .arg(found)
               .arg(progress.added.load())
               .arg(progress.skipped.load())
               .arg(progress.unreadable.load()) +
           counted(rate, QStringLiteral("%1 file/s"), QStringLiteral("%1 files/s"));
}

// Names each file that was given or found but not taken, one line each, so
// that a script can pick the paths out.
void nameFilesNotTaken(const ImportResult& result, Console& console) {
    for (const QString& path : result.notSoundFiles)
        console.error(QStringLiteral("Not a sound file: %1").arg(path));
    for (const QString& path : result.unreadableFiles)
        console.error(QStringLiteral("Not a readable sound file: %1").arg(path));
    if (const qint64 more = result.unreadable - result.unreadableFiles.size(); more > 0)
        console.error(counted(more, QStringLiteral("... and %1 more file not readable."),
                              QStringLiteral("... and %1 more files not readable.")));
}

}  // namespace

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
    interruptFlag = &progress.cancel;
    auto* previous = std::signal(SIGINT, onInterrupt);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = importPaths(call.cataloguePath, call.arguments, progress);
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 lastThousand = 0;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (call.console.interactive()) {
            call.console.progress(progressLine(progress, clock.elapsed()));
        } else if (const qint64 thousands = progress.found.load() / 1000;
                   thousands > lastThousand) {
            lastThousand = thousands;
            call.console.progress(progressLine(progress, clock.elapsed()));
        }
    }
    worker.join();
    std::signal(SIGINT, previous);
    interruptFlag = nullptr;
    if (call.console.interactive()) call.console.progress(progressLine(progress, clock.elapsed()));
    call.console.endProgress();
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
