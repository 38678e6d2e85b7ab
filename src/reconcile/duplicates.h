#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kalvero::reconcile {

// What makes entries duplicates of one another. Only the path for now; equal
// audio (the analysis' hash) comes when analyses are kept in the catalogue.
enum class DuplicateKind {
    // The same path, byte for byte: letter case and Unicode forms count.
    SamePath,
};

struct DuplicateEntry {
    qint64 id = 0;
    QByteArray path;
};

struct DuplicateGroup {
    // What the entries share: for SamePath, the path.
    QByteArray key;
    // In ID order.
    QList<DuplicateEntry> entries;
};

// An entry with the key it is grouped by.
struct KeyedEntry {
    QByteArray key;
    DuplicateEntry entry;
};

// The keys that two or more entries share, largest group first, then by the
// group's first ID. Entries with an empty key are never grouped.
QList<DuplicateGroup> groupDuplicates(QList<KeyedEntry> entries);

// The duplicates in the catalogue file at `cataloguePath`. Throws
// store::DbError when it cannot be read.
QList<DuplicateGroup> findDuplicates(const QString& cataloguePath, DuplicateKind kind);

}  // namespace kalvero::reconcile
