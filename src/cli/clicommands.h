#pragma once

#include "cli/cli.h"

// The commands of kalvero-cli; each is one row in the table in cli.cpp.
namespace kalvero::cli {

// import PATH...: folders and sound files into the catalogue.
int runImport(Invocation& call);
// export FILE.csv: every entry, in ID order; "-" is standard output.
int runExport(Invocation& call);
// export --facts: one more column per fact after the entries' five.
std::vector<QCommandLineOption> exportOptions();
// import-csv FILE.csv [--update]: every new row of such a file, or none.
int runImportCsv(Invocation& call);
std::vector<QCommandLineOption> importCsvOptions();
// missing [--offline]: the entries whose file is missing, one per line (ID,
// name, path); those on drives that are not connected apart.
int runMissing(Invocation& call);
std::vector<QCommandLineOption> missingOptions();
// info ID|PATH... [--json]: every text and fact of the entries named.
int runInfo(Invocation& call);
std::vector<QCommandLineOption> infoOptions();
// relink OLD_FOLDER NEW_FOLDER [--dry-run]: moves the entries under a folder.
// relink --find FOLDER [--dry-run]: finds the missing entries' files under
// FOLDER by their analysed audio.
int runRelink(Invocation& call);
std::vector<QCommandLineOption> relinkOptions();
// prune [--dry-run]: removes the entries whose file is missing.
int runPrune(Invocation& call);
std::vector<QCommandLineOption> pruneOptions();
// duplicates [--json]: the entries that name the same path, then those with
// the same analysed audio, grouped.
int runDuplicates(Invocation& call);
std::vector<QCommandLineOption> duplicatesOptions();
// analyse [--all]: analyses the entries' files that changed or were never
// analysed, and keeps the results among their facts.
int runAnalyse(Invocation& call);
std::vector<QCommandLineOption> analyseOptions();

}  // namespace kalvero::cli
