#pragma once

#include "importer/cli.h"

// The commands of kalvero-cli; each is one row in the table in cli.cpp.
namespace kalvero::importer::cli {

// import PATH...: folders and sound files into the catalogue.
int runImport(Invocation& call);
// export FILE.csv: every entry, in ID order.
int runExport(Invocation& call);
// import-csv FILE.csv: every row of such a file, or none.
int runImportCsv(Invocation& call);

}  // namespace kalvero::importer::cli
