#pragma once

#include "reconcile/catalogueanalysis.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class QLabel;

namespace kalvero::window {

// Analyses the catalogue's sounds (audio hash, loudness, peak) on a thread of
// the lowest priority while the window goes on, and shows how far it is in a
// small status label. The thread only reads files and the catalogue; each
// batch of results is handed back to the window's thread to be stored, so
// the window knows the commit for its own and the entries it holds stay
// valid. The window's thread never waits for the analysis.
class BackgroundAnalysis : public QObject {
    Q_OBJECT
public:
    enum class Stored { Yes, Later, Failed };
    // Runs on the window's thread: stores the batch, or says to try again a
    // little later (the catalogue is busy), or that it failed (`why`, plain words).
    using Store = std::function<Stored(const reconcile::AnalysisBatch& batch, QString& why)>;

    BackgroundAnalysis(QLabel* status, Store store, QObject* parent = nullptr);
    // Stops the analysis; the batch being stored is kept, the file being read is given up.
    ~BackgroundAnalysis() override;

    // Analyses what is new or changed in the catalogue file. While a run is
    // going, it runs once more after it, for what came meanwhile.
    void start(const QString& cataloguePath);
    void stop();
    bool isRunning() const { return worker_.joinable(); }

    // How long the label keeps the closing words.
    static constexpr int kDoneShownMs = 15000;

signals:
    void finished(const reconcile::CatalogueAnalysisResult& result);

private:
    struct Handover;

    void storeHanded();
    void workerDone(const reconcile::CatalogueAnalysisResult& result);
    void showProgress();

    QLabel* status_;
    Store store_;
    QString cataloguePath_;
    bool again_ = false;
    std::shared_ptr<Handover> handover_;
    std::thread worker_;
    QTimer tick_;
    QTimer clear_;
};

}  // namespace kalvero::window
