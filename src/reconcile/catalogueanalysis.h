#pragma once

#include "reconcile/audioanalysis.h"
#include "store/facts.h"
#include "store/sqlitehandle.h"

#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <utility>

namespace kalvero::reconcile {

// Keeping analyses among the entries' facts, so that a file is analysed once
// and again only when it changes.

// The facts an analysis fills, in the order they are written.
QList<store::Fact> analysisFacts();
// The analysis as those facts: numbers as in display, without their units.
store::FactValues analysisFactValues(const AudioAnalysis& analysis);
// A stored fact as people read it: loudness, its range and the sample peak
// with their units ("-23.4 LUFS", "7.5 LU", "-inf dBFS"); any other fact,
// or a measure that is no number, as stored.
QString shownFact(store::Fact fact, const QString& stored);

// Read by another thread while the analysis runs.
struct AnalysisProgress {
    // The files to analyse, known once every entry's file has been looked at.
    std::atomic<qint64> toAnalyse{0};
    // Analysed or failed so far.
    std::atomic<qint64> done{0};
    // Set from outside: stop after the current file, keeping what was done.
    std::atomic<bool> cancel{false};
};

struct AnalysisFailure {
    QString path;
    QString reason;
};

struct CatalogueAnalysisResult {
    // Analysed and stored.
    qint64 analysed = 0;
    // Whose stored analysis still fits the file.
    qint64 unchanged = 0;
    // Whose file is missing, offline or not a file.
    qint64 noFile = 0;
    QList<AnalysisFailure> failed;
    bool cancelled = false;
    // The catalogue could not be read or written; what was committed before stays.
    std::optional<store::DbError> failure;
};

// Analyses the files of the catalogue's entries that have no analysis yet or
// whose file's size or modification time differs from the one stored (every
// file with `all`), and stores the results in batches, each its own
// transaction, so that an interrupted run keeps all but the batch in flight.
// No transaction is open while files are read.
CatalogueAnalysisResult analyseCatalogue(const QString& cataloguePath, bool all,
                                         AnalysisProgress& progress);

// Results of some entries, for storing.
using AnalysisBatch = QList<std::pair<qint64, AudioAnalysis>>;
// Stores one batch on a connection of the caller's choosing, returning once
// it is committed; false when it was not stored and the run is to end.
// Throws store::DbError when the catalogue failed.
using AnalysisBatchStore = std::function<bool(const AnalysisBatch& batch)>;

// The same, with each batch handed to `store` (a window stores them on its
// own connection, so that it knows which commits are the analysis's).
CatalogueAnalysisResult analyseCatalogue(const QString& cataloguePath, bool all,
                                         AnalysisProgress& progress,
                                         const AnalysisBatchStore& store);

// Writes `batch` among the entries' facts on `connection`, in one transaction.
void storeAnalysisBatch(store::Connection& connection, const AnalysisBatch& batch);

}  // namespace kalvero::reconcile
