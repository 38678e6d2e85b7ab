#pragma once

#include "cli/cli.h"

// The commands of kalvero-cli; each is one row in the table in cli.cpp.
namespace kalvero::cli {

// import PATH...: folders and sound files into the catalogue.
int runImport(Invocation& call);
// export FILE.csv: every entry, in ID order; "-" is standard output.
int runExport(Invocation& call);
// import-csv FILE.csv [--update]: every new row of such a file, or none.
int runImportCsv(Invocation& call);
std::vector<QCommandLineOption> importCsvOptions();
// missing: the entries whose file is missing, one per line (ID, name, path).
int runMissing(Invocation& call);
// relink OLD_FOLDER NEW_FOLDER [--dry-run]: moves the entries under a folder.
int runRelink(Invocation& call);
std::vector<QCommandLineOption> relinkOptions();

}  // namespace kalvero::cli
