#include "reconcile/backgroundanalysis.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace kalvero::reconcile {

namespace {

// How often the progress is told, and how soon a batch the catalogue was too
// busy to take is offered again.
constexpr int kProgressIntervalMs = 500;
constexpr int kRetryMs = 250;

// The analysis reads whole files: it gives way to everything else on the machine.
void lowestPriority() {
    sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
    setpriority(PRIO_PROCESS, 0, 19);  // Linux: this thread only
}

}  // namespace

// What the analysis thread and the owner's thread share about one run.
struct BackgroundAnalysis::Handover {
    AnalysisProgress progress;
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<AnalysisBatch> batch;
    std::optional<bool> stored;
    bool closing = false;
};

BackgroundAnalysis::BackgroundAnalysis(Store store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {
    tick_.setInterval(kProgressIntervalMs);
    connect(&tick_, &QTimer::timeout, this, &BackgroundAnalysis::tick);
}

BackgroundAnalysis::~BackgroundAnalysis() { stop(); }

void BackgroundAnalysis::start(const QString& cataloguePath) {
    cataloguePath_ = cataloguePath;
    if (isRunning()) {
        again_ = true;
        return;
    }
    again_ = false;
    auto handover = std::make_shared<Handover>();
    handover_ = handover;
    worker_ = std::thread([this, handover, path = cataloguePath] {
        lowestPriority();
        const CatalogueAnalysisResult result = analyseCatalogue(
            path, false, handover->progress, [this, handover](const AnalysisBatch& batch) {
                std::unique_lock lock(handover->mutex);
                if (handover->closing) return false;
                handover->batch = batch;
                handover->stored.reset();
                QMetaObject::invokeMethod(this, &BackgroundAnalysis::storeHanded,
                                          Qt::QueuedConnection);
                handover->answered.wait(lock,
                                        [&] { return handover->stored || handover->closing; });
                return handover->stored.value_or(false);
            });
        // Once closing, the owner may be gone: nothing more is posted to it.
        std::lock_guard lock(handover->mutex);
        if (!handover->closing) {
            QMetaObject::invokeMethod(
                this, [this, result] { workerDone(result); }, Qt::QueuedConnection);
        }
    });
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
    std::optional<AnalysisBatch> batch;
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
        emit storeFailed(why);
    }
    {
        std::lock_guard lock(handover->mutex);
        handover->batch.reset();
        handover->stored = outcome == Stored::Yes;
    }
    handover->answered.notify_all();
}

void BackgroundAnalysis::tick() {
    if (!handover_ || handover_->progress.cancel.load()) return;
    const qint64 total = handover_->progress.toAnalyse.load();
    if (total > 0) emit progressed(handover_->progress.done.load(), total);
}

void BackgroundAnalysis::workerDone(const CatalogueAnalysisResult& result) {
    if (worker_.joinable()) worker_.join();
    tick_.stop();
    emit finished(result);
    if (again_) start(cataloguePath_);
}

}  // namespace kalvero::reconcile
