#pragma once

#include "store/sqlitehandle.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <vector>

namespace kalvero::bench {

// Makes (once) an encrypted catalogue of `entries` realistic entries in the
// program's file format and returns the program folder that holds it. The
// folder lives under `cacheRoot`, so later runs reuse it.
QString cachedCatalogue(const QString& cacheRoot, int entries);

// Makes (once, under `cacheRoot`) a tree of `files` small WAV files in 100
// folders of 10 folders, each with its share of the sound files, a text file
// and a hidden file, and returns its root.
QString cachedSoundTree(const QString& cacheRoot, int files);

// Copies a cached program folder to a scratch folder that a benchmark may change.
QString scratchCopy(const QString& programFolder, const QString& scratchRoot);

// The process's resident memory in bytes.
qint64 residentBytes();

// CPU time of the whole process (every thread), in milliseconds: on a busy
// machine it shows the work apart from the waiting.
double cpuMs();

// The middle of the repetitions' figures (0 for none).
double median(std::vector<double> values);

// A connection of its own to the catalogue in `programFolder`, keyed, its key
// already derived, for measuring floors: with the engine's built-in `like`
// and NOCASE (`builtIns`), or with ours registered, as the window has them.
store::Connection openForFloor(const QString& programFolder, bool builtIns);

// The floor of one statement: prepared, every row stepped and every column
// read, nothing else. An insert or a delete leaves the catalogue as it was:
// the insert's row is deleted again and the delete's row is inserted first,
// both untimed. Milliseconds.
double floorMs(store::Connection& c, const QString& sql, qint64* rows = nullptr);

// The longest time the event loop went without a turn, as seen by a timer
// that ticks every 5 ms: from start() to stop(), in milliseconds.
class GapMeter {
public:
    GapMeter();
    void start();
    double stop();

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

}  // namespace kalvero::bench
