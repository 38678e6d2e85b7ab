// The background analysis as the window runs it: started after an import or
// a rescan, its batches stored on the window's own connection between the
// window's other work, and how far it is shown at the right of the menu bar.

#include "importer/counted.h"
#include "store/dberrortext.h"
#include "window/form1.h"
#include "window/listsnapshot.h"

#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTimer>

namespace kalvero::window {

namespace {

// How long the label keeps the closing words of a run.
constexpr int kDoneShownMs = 15000;
// How many unreadable files the label's tooltip names.
constexpr int kNamedFailures = 20;

}  // namespace

void Form1::buildAnalysis() {
    AnalysisStatus = new QLabel(menuBar());
    AnalysisStatus->setObjectName(QStringLiteral("AnalysisStatus"));
    // The menu bar sizes its corner once: room for the longest count it will show.
    AnalysisStatus->setMinimumWidth(AnalysisStatus->fontMetrics().horizontalAdvance(
        QStringLiteral("Analysing sounds: 1,000,000 of 1,000,000  ")));
    AnalysisStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    AnalysisStatus->setContentsMargins(0, 0, 6, 0);
    menuBar()->setCornerWidget(AnalysisStatus, Qt::TopRightCorner);
    auto* clear = new QTimer(AnalysisStatus);
    clear->setSingleShot(true);
    clear->setInterval(kDoneShownMs);
    connect(clear, &QTimer::timeout, AnalysisStatus, [this] {
        AnalysisStatus->clear();
        AnalysisStatus->setToolTip(QString());
    });

    analysis_ = std::make_unique<reconcile::BackgroundAnalysis>(
        [this](const reconcile::AnalysisBatch& batch, QString& why) {
            return storeAnalysis(batch, why);
        });
    connect(analysis_.get(), &reconcile::BackgroundAnalysis::progressed, AnalysisStatus,
            [this, clear](qint64 done, qint64 total) {
                clear->stop();
                const QLocale locale;
                AnalysisStatus->setText(QStringLiteral("Analysing sounds: %1 of %2")
                                            .arg(locale.toString(done), locale.toString(total)));
            });
    connect(analysis_.get(), &reconcile::BackgroundAnalysis::storeFailed, AnalysisStatus,
            [this, clear](const QString& why) {
                clear->stop();
                AnalysisStatus->setText(QStringLiteral("Analysis stopped"));
                AnalysisStatus->setToolTip(why);
            });
    connect(analysis_.get(), &reconcile::BackgroundAnalysis::finished, AnalysisStatus,
            [this, clear](const reconcile::CatalogueAnalysisResult& result) {
                showAnalysisResult(result);
                if (!result.cancelled && !result.failure) clear->start();
            });
}

void Form1::startAnalysis() { analysis_->start(catalogue_.filePath()); }

void Form1::showAnalysisResult(const reconcile::CatalogueAnalysisResult& result) {
    // A run whose batch could not be stored has said so already.
    if (result.cancelled) return;
    if (result.failure) {
        AnalysisStatus->setText(QStringLiteral("Analysis stopped"));
        AnalysisStatus->setToolTip(store::describeFailure(QStringLiteral("analyse the sounds of"),
                                                          catalogue_.filePath(), *result.failure));
        return;
    }
    QStringList parts;
    if (result.analysed > 0) {
        parts << importer::counted(result.analysed, QStringLiteral("%1 sound analysed"),
                                   QStringLiteral("%1 sounds analysed"));
    }
    QStringList named;
    if (!result.failed.isEmpty()) {
        parts << importer::counted(result.failed.size(),
                                   QStringLiteral("%1 file could not be read"),
                                   QStringLiteral("%1 files could not be read"));
        for (const reconcile::AnalysisFailure& failure : result.failed.mid(0, kNamedFailures))
            named << failure.path + QStringLiteral(": ") + failure.reason;
    }
    AnalysisStatus->setText(parts.isEmpty() ? QString()
                                            : parts.join(QStringLiteral(", ")) + QLatin1Char('.'));
    AnalysisStatus->setToolTip(named.join(QLatin1Char('\n')));
}

reconcile::BackgroundAnalysis::Stored Form1::storeAnalysis(const reconcile::AnalysisBatch& batch,
                                                           QString& why) {
    using Stored = reconcile::BackgroundAnalysis::Stored;
    // Never inside a load, an Add, a delete or an import: the batch waits its turn.
    if (loading_ || changing_) return Stored::Later;
    changing_ = true;
    auto done = qScopeGuard([this] { changing_ = false; });
    try {
        catalogue_.begin();
        // The window never waits for another program's lock here: the batch
        // is offered again a moment later instead.
        sqlite3_busy_timeout(catalogue_.connection().handle(), 0);
        snapshot_->writeBesideEntries(
            catalogue_, [&] { reconcile::storeAnalysisBatch(catalogue_.connection(), batch); });
        catalogue_.end();
    } catch (const store::DbError& error) {
        catalogue_.end();
        if (error.primaryCode() == SQLITE_BUSY || error.primaryCode() == SQLITE_LOCKED)
            return Stored::Later;
        why = store::describeFailure(QStringLiteral("store the analysis in"), catalogue_.filePath(),
                                     error);
        return Stored::Failed;
    }
    done.dismiss();
    changing_ = false;
    runDeferred();
    return Stored::Yes;
}

}  // namespace kalvero::window
