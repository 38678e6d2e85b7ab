#pragma once

#include "cli/cli.h"

namespace kalvero::importer {
struct ImportResult;
}

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
// rescan [FOLDER...]: imports new sound files, reads changed ones again, and
// lists the entries whose file is gone.
int runRescan(Invocation& call);

// Names each file an import was given or found but did not take, one line
// each on standard error, so that a script can pick the paths out.
void nameFilesNotTaken(const importer::ImportResult& result, Console& console);

}  // namespace kalvero::cli
