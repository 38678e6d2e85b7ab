#pragma once

#include <QString>

namespace kalvero::bench {

// Makes (once) an encrypted catalogue of `entries` realistic entries in the
// program's file format and returns the program folder that holds it. The
// folder lives under `cacheRoot`, so later runs reuse it.
QString cachedCatalogue(const QString& cacheRoot, int entries);

// Copies a cached program folder to a scratch folder that a benchmark may change.
QString scratchCopy(const QString& programFolder, const QString& scratchRoot);

// The process's resident memory in bytes.
qint64 residentBytes();

}  // namespace kalvero::bench
