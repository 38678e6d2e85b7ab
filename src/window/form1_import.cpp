// Importing folders and dropped files: the menu item, the drop, the progress
// dialog and the summary. The import itself runs on a thread of its own with
// a connection of its own; the window only watches its counts.

#include "importer/folderimport.h"
#include "prefs/maker.h"
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

void Form1::importPaths(const QStringList& paths) {
    if (paths.isEmpty()) return;
    if (deferWhileLoading([this, paths] { importPaths(paths); })) return;
    // The window's own rules for its file: made on the first open, never made
    // anew once it was open and then disappeared.
    try {
        catalogue_.begin();
        catalogue_.end();
    } catch (const store::DbError& error) {
        catalogue_.end();
        reportFailure(QStringLiteral("open"), error);
        return;
    }

    // The import changes the catalogue as an Add does: what is asked meanwhile
    // waits for it, and the loads asked for collapse into the one that ends it.
    changing_ = true;
    auto done = qScopeGuard([this] { changing_ = false; });
    importer::ImportProgress progress;
    importer::ImportResult result;
    const QString file = catalogue_.filePath();
    std::unique_ptr<QThread> worker(QThread::create([&result, &progress, file, paths] {
        // The window comes first on a busy machine: the import's threads (this
        // one and the writer it starts) yield to the one that paints.
        setpriority(PRIO_PROCESS, 0, kImportNice);
        result = importer::importPaths(file, paths, progress);
    }));

    QProgressDialog dialog(this);
    dialog.setObjectName(QStringLiteral("ImportProgress"));
    dialog.setWindowTitle(QStringLiteral("Importing Sound Files"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setRange(0, 0);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setCancelButtonText(QStringLiteral("Cancel"));
    dialog.setLabelText(progressText(progress));
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&dialog, &progress] {
        progress.cancel = true;
        // The batch being stored is kept whole: say so while it finishes.
        dialog.setLabelText(
            QStringLiteral("Stopping after the current batch. What was added so "
                           "far stays in the catalogue..."));
        if (auto* cancel = dialog.findChild<QPushButton*>()) cancel->setEnabled(false);
        dialog.show();
    });
    QTimer tick;
    connect(&tick, &QTimer::timeout, &dialog, [&dialog, &progress] {
        if (!progress.cancel.load()) dialog.setLabelText(progressText(progress));
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

    QString summary = importer::importSummary(result);
    if (result.failure) {
        summary = store::describeFailure(QStringLiteral("add the sound files to"), file,
                                         *result.failure) +
                  QStringLiteral("\n\nWhat was added before the failure is kept. ") + summary;
    } else if (result.cancelled) {
        summary = QStringLiteral("Import cancelled. What was added so far is kept.\n\n") + summary;
    }
    // One reload, before the summary so that the list behind it is current; a
    // load asked for during the import folds into it.
    SearchData1(1);
    done.dismiss();
    changing_ = false;
    runDeferred();
    showMessage(QLatin1String(prefs::kAppTitle), summary);
}

}  // namespace kalvero::window
