#pragma once

#include "reconcile/catalogueanalysis.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

namespace kalvero::reconcile {

// Analyses the catalogue's sounds (audio hash, loudness, peak) on a thread of
// the lowest priority while its owner's thread goes on. The thread only reads
// files and the catalogue; each batch of results is handed back to the
// owner's thread to be stored, so that a window knows the commit for its own
// and the entries it holds stay valid. The owner's thread never waits for
// the analysis.
class BackgroundAnalysis : public QObject {
    Q_OBJECT
public:
    enum class Stored { Yes, Later, Failed };
    // Runs on the owner's thread: stores the batch, or says to offer it again
    // a little later (the catalogue is busy), or that it failed (`why`, in
    // plain words); the run ends then.
    using Store = std::function<Stored(const AnalysisBatch& batch, QString& why)>;

    explicit BackgroundAnalysis(Store store, QObject* parent = nullptr);
    // Stops the analysis: the file being read is given up, what was stored stays.
    ~BackgroundAnalysis() override;

    // Analyses what is new or changed in the catalogue file. While a run is
    // going, it runs once more after it, for what came meanwhile.
    void start(const QString& cataloguePath);
    void stop();
    bool isRunning() const { return worker_.joinable(); }

signals:
    // About twice a second while it runs, once the files to analyse are counted.
    void progressed(qint64 done, qint64 total);
    // The batch store failed: the run ends without storing more.
    void storeFailed(const QString& why);
    void finished(const reconcile::CatalogueAnalysisResult& result);

private:
    struct Handover;

    void storeHanded();
    void workerDone(const CatalogueAnalysisResult& result);
    void tick();

    Store store_;
    QString cataloguePath_;
    bool again_ = false;
    std::shared_ptr<Handover> handover_;
    std::thread worker_;
    QTimer tick_;
};

}  // namespace kalvero::reconcile
