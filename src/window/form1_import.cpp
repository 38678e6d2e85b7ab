// Importing folders and dropped files, and rescanning the folders the
// catalogue holds: the menu items, the drop, the progress dialog and the
// summary. The work itself runs on a thread of its own with a connection of
// its own; the window only watches its counts. After either, what they
// brought is analysed in the background, each batch stored from here.

#include "importer/folderimport.h"
#include "prefs/maker.h"
#include "reconcile/rescan.h"
#include "store/dberrortext.h"
#include "window/form1.h"

#include <sys/resource.h>
#include <QEventLoop>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace kalvero::window {

namespace {

// How often the progress dialog shows the counts.
constexpr int kProgressIntervalMs = 100;
// The import threads' nice value; on Linux it applies to the calling thread only.
constexpr int kImportNice = 10;

QString progressText(const importer::ImportProgress& progress) {
    return QStringLiteral(
               "Importing sound files...\n\nFound: %1\nAdded: %2\nSkipped: %3\nNot readable: %4")
        .arg(progress.found.load())
        .arg(progress.added.load())
        .arg(progress.skipped.load())
        .arg(progress.unreadable.load());
}

}  // namespace

void Form1::ImportFolderM_Click() {
    askUser([this](UserDialogs& dialogs) {
        if (const std::optional<QString> folder = dialogs.existingFolder(this))
            importPaths({*folder});
    });
}

bool Form1::importDroppedPaths(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return false;
    QStringList paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    // A single file still only fills "Sound File:".
    if (paths.size() < 2 && !(paths.size() == 1 && QFileInfo(paths.first()).isDir())) return false;
    // The drag's source waits until the drop returns: the import starts after it.
    QTimer::singleShot(0, this, [this, paths] { importPaths(paths); });
    return true;
}

void Form1::RescanFoldersM_Click() { rescanFolders({}); }

bool Form1::runBehindProgress(const QString& title, const std::function<void()>& work,
                              const std::function<QString()>& describe, std::atomic<bool>& cancel) {
    // The window's own rules for its file: made on the first open, never made
    // anew once it was open and then disappeared.
    try {
        catalogue_.begin();
        catalogue_.end();
    } catch (const store::DbError& error) {
        catalogue_.end();
        reportFailure(QStringLiteral("open"), error);
        return false;
    }
    // What runs here changes the catalogue as an Add does: what is asked
    // meanwhile waits for it, and the loads asked for collapse into the one
    // that ends it (finishBulkChange).
    changing_ = true;
    std::unique_ptr<QThread> worker(QThread::create([&work] {
        // The window comes first on a busy machine: the import's threads (this
        // one and the writer it starts) yield to the one that paints.
        setpriority(PRIO_PROCESS, 0, kImportNice);
        work();
    }));

    QProgressDialog dialog(this);
    dialog.setObjectName(QStringLiteral("ImportProgress"));
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setRange(0, 0);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setCancelButtonText(QStringLiteral("Cancel"));
    dialog.setLabelText(describe());
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&dialog, &cancel] {
        cancel = true;
        // The batch being stored is kept whole: say so while it finishes.
        dialog.setLabelText(
            QStringLiteral("Stopping after the current batch. What was added so "
                           "far stays in the catalogue..."));
        if (auto* button = dialog.findChild<QPushButton*>()) button->setEnabled(false);
        dialog.show();
    });
    QTimer tick;
    connect(&tick, &QTimer::timeout, &dialog, [&dialog, &cancel, &describe] {
        if (!cancel.load()) dialog.setLabelText(describe());
    });
    QEventLoop waiting;
    connect(worker.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    worker->start();
    tick.start(kProgressIntervalMs);
    dialog.show();
    waiting.exec();
    worker->wait();
    tick.stop();
    dialog.hide();
    return true;
}

void Form1::finishBulkChange(const BulkEnd& end) {
    QString summary = end.summary;
    if (end.failure) {
        summary = store::describeFailure(end.action, catalogue_.filePath(), *end.failure) +
                  QStringLiteral("\n\nWhat was %1 before the failure is kept. ").arg(end.done) +
                  summary;
    } else if (end.cancelled) {
        summary = QStringLiteral("%1 cancelled. What was %2 so far is kept.\n\n")
                      .arg(end.name, end.done) +
                  summary;
    }
    // One reload, before the summary so that the list behind it is current; a
    // load asked for during the change folds into it.
    SearchData1(1);
    changing_ = false;
    runDeferred();
    startAnalysis();
    showMessage(QLatin1String(prefs::kAppTitle), summary);
}

void Form1::importPaths(const QStringList& paths) {
    if (paths.isEmpty()) return;
    if (deferWhileLoading([this, paths] { importPaths(paths); })) return;
    importer::ImportProgress progress;
    importer::ImportResult result;
    const QString file = catalogue_.filePath();
    if (!runBehindProgress(
            QStringLiteral("Importing Sound Files"),
            [&] { result = importer::importPaths(file, paths, progress); },
            [&progress] { return progressText(progress); }, progress.cancel))
        return;

    finishBulkChange({importer::importSummary(result), result.failure, result.cancelled,
                      QStringLiteral("Import"), QStringLiteral("add the sound files to"),
                      QStringLiteral("added")});
}

void Form1::rescanFolders(const QStringList& folders) {
    if (deferWhileLoading([this, folders] { rescanFolders(folders); })) return;
    reconcile::RescanProgress progress;
    reconcile::RescanResult result;
    const QString file = catalogue_.filePath();
    if (!runBehindProgress(
            QStringLiteral("Rescanning Folders"),
            [&] { result = reconcile::rescanFolders(file, folders, progress); },
            [&progress] {
                return QStringLiteral(
                           "Rescanning folders...\n\nFound: %1\nAdded: %2\nRead again: %3")
                    .arg(progress.found.load())
                    .arg(progress.added.load())
                    .arg(progress.changed.load());
            },
            progress.cancel))
        return;

    finishBulkChange({reconcile::rescanSummary(result), result.failure, result.cancelled,
                      QStringLiteral("Rescan"), QStringLiteral("rescan the folders of"),
                      QStringLiteral("stored")});
}

}  // namespace kalvero::window
