#pragma once

#include "store/catalogue.h"

#include <QByteArrayView>
#include <QString>
#include <array>
#include <optional>

// What the CSV export and the CSV import both need; only their two files
// include it, so that neither keeps a copy of the other's pieces.

namespace kalvero::importer {

// An entry's four texts, viewed in a parsed row or a stored one; nullopt is NULL.
using TextViews = std::array<std::optional<QByteArrayView>, 4>;

inline store::Connection openExisting(const QString& cataloguePath) {
    return store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
}

}  // namespace kalvero::importer
