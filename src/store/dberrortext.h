#pragma once

#include "store/sqlitehandle.h"

#include <QString>

namespace kalvero::store {

// What the user is told when an operation on the catalogue fails: which file,
// what went wrong in plain words, and the engine's own words for support.
QString describeFailure(const QString& action, const QString& filePath, const DbError& error);

// The plain-words cause alone.
QString plainCause(const DbError& error);

}  // namespace kalvero::store
