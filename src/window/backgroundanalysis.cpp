#include "window/backgroundanalysis.h"

#include "importer/counted.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <QLabel>
#include <QLocale>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace kalvero::window {

namespace {

// How often the label shows the counts, and how soon a batch the catalogue
// was too busy to take is offered again.
constexpr int kProgressIntervalMs = 500;
constexpr int kRetryMs = 250;

// The analysis reads whole files: it gives way to everything else on the machine.
void lowestPriority() {
    sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
    setpriority(PRIO_PROCESS, 0, 19);  // Linux: this thread only
}

}  // namespace

// What the analysis thread and the window's thread share about one run.
struct BackgroundAnalysis::Handover {
    reconcile::AnalysisProgress progress;
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<reconcile::AnalysisBatch> batch;
    std::optional<bool> stored;
    bool closing = false;
};

BackgroundAnalysis::BackgroundAnalysis(QLabel* status, Store store, QObject* parent)
    : QObject(parent), status_(status), store_(std::move(store)) {
    tick_.setInterval(kProgressIntervalMs);
    connect(&tick_, &QTimer::timeout, this, &BackgroundAnalysis::showProgress);
    clear_.setSingleShot(true);
    clear_.setInterval(kDoneShownMs);
    connect(&clear_, &QTimer::timeout, this, [this] { status_->clear(); });
}

BackgroundAnalysis::~BackgroundAnalysis() { stop(); }

void BackgroundAnalysis::start(const QString& cataloguePath) {
    if (isRunning()) {
        again_ = true;
        cataloguePath_ = cataloguePath;
        return;
    }
    cataloguePath_ = cataloguePath;
    again_ = false;
    auto handover = std::make_shared<Handover>();
    handover_ = handover;
    worker_ = std::thread([this, handover, path = cataloguePath] {
        lowestPriority();
        const reconcile::CatalogueAnalysisResult result = reconcile::analyseCatalogue(
            path, false, handover->progress, [this, handover](const reconcile::AnalysisBatch& b) {
                std::unique_lock lock(handover->mutex);
                if (handover->closing) return false;
                handover->batch = b;
                handover->stored.reset();
                QMetaObject::invokeMethod(this, &BackgroundAnalysis::storeHanded,
                                          Qt::QueuedConnection);
                handover->answered.wait(lock,
                                        [&] { return handover->stored || handover->closing; });
                return handover->stored.value_or(false);
            });
        std::lock_guard lock(handover->mutex);
        if (!handover->closing) {
            QMetaObject::invokeMethod(
                this, [this, result] { workerDone(result); }, Qt::QueuedConnection);
        }
    });
    clear_.stop();
    status_->setText(QStringLiteral("Analysing sounds..."));
    tick_.start();
}

void BackgroundAnalysis::stop() {
    if (!isRunning()) return;
    {
        std::lock_guard lock(handover_->mutex);
        handover_->closing = true;
        handover_->progress.cancel = true;
    }
    handover_->answered.notify_all();
    worker_.join();
    tick_.stop();
    again_ = false;
}

void BackgroundAnalysis::storeHanded() {
    const std::shared_ptr<Handover> handover = handover_;
    std::optional<reconcile::AnalysisBatch> batch;
    {
        std::lock_guard lock(handover->mutex);
        if (handover->closing || !handover->batch || handover->stored) return;
        batch = handover->batch;
    }
    QString why;
    const Stored outcome = store_(*batch, why);
    if (outcome == Stored::Later) {
        QTimer::singleShot(kRetryMs, this, &BackgroundAnalysis::storeHanded);
        return;
    }
    if (outcome == Stored::Failed) {
        handover->progress.cancel = true;
        status_->setText(QStringLiteral("Analysis stopped: %1").arg(why));
        status_->setToolTip(why);
    }
    {
        std::lock_guard lock(handover->mutex);
        handover->batch.reset();
        handover->stored = outcome == Stored::Yes;
    }
    handover->answered.notify_all();
}

void BackgroundAnalysis::showProgress() {
    if (!handover_ || handover_->progress.cancel.load()) return;
    const qint64 total = handover_->progress.toAnalyse.load();
    if (total == 0) return;
    const QLocale locale;
    status_->setText(
        QStringLiteral("Analysing sounds: %1 of %2")
            .arg(locale.toString(handover_->progress.done.load()), locale.toString(total)));
}

void BackgroundAnalysis::workerDone(const reconcile::CatalogueAnalysisResult& result) {
    if (worker_.joinable()) worker_.join();
    tick_.stop();
    const bool stoppedByStore = handover_ && handover_->progress.cancel.load() && !result.failure;
    if (result.failure) {
        status_->setText(QStringLiteral("Analysis stopped: the catalogue could not be read."));
        status_->setToolTip(result.failure->message());
    } else if (!stoppedByStore) {
        QString text = result.analysed == 0 && result.failed.isEmpty()
                           ? QString()
                           : importer::counted(result.analysed, QStringLiteral("%1 sound analysed"),
                                               QStringLiteral("%1 sounds analysed"));
        if (!result.failed.isEmpty()) {
            text +=
                QStringLiteral(", ") +
                importer::counted(result.failed.size(), QStringLiteral("%1 file could not be read"),
                                  QStringLiteral("%1 files could not be read"));
            QStringList lines;
            for (const reconcile::AnalysisFailure& failure : result.failed.mid(0, 20))
                lines << failure.path + QStringLiteral(": ") + failure.reason;
            status_->setToolTip(lines.join(QLatin1Char('\n')));
        } else {
            status_->setToolTip(QString());
        }
        status_->setText(text.isEmpty() ? QString() : text + QLatin1Char('.'));
        clear_.start();
    }
    emit finished(result);
    if (again_) start(cataloguePath_);
}

}  // namespace kalvero::window
