#pragma once

#include "importer/csvtransfer.h"

#include <QString>

namespace kalvero::importer {

// The catalogue as CSV with its facts: the five columns exportCsv writes,
// written as it writes them (so import-csv, which ignores columns it does not
// know, reads the same entries back), then one column per fact named as in
// SoundFacts, empty where the entry has none. The file is replaced only once
// it is complete.
CsvOutcome exportCsvWithFacts(const QString& cataloguePath, const QString& csvPath);

}  // namespace kalvero::importer
