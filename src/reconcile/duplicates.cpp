#include "reconcile/duplicates.h"

#include "store/catalogue.h"
#include "store/facts.h"

#include <QHash>
#include <algorithm>

namespace kalvero::reconcile {

namespace {

// Each kind's entries with their keys, read in ID order.
QList<KeyedEntry> samePathKeys(const store::Connection& connection) {
    QList<KeyedEntry> keyed;
    // The comparison is ours, byte for byte, never the column's case-blind collation.
    store::Statement rows(connection,
                          QByteArrayLiteral("select ID, FilePath from SoundData order by ID"));
    while (rows.step()) {
        QByteArray path = rows.textBytes(1);
        keyed.append({path, {rows.int64(0), path}});
    }
    return keyed;
}

QList<KeyedEntry> sameAudioKeys(const store::Connection& connection) {
    QList<KeyedEntry> keyed;
    if (!store::hasFactColumn(connection, store::Fact::AudioHash)) return keyed;
    store::Statement rows(connection, QByteArrayLiteral("select S.ID, S.FilePath, F.AudioHash "
                                                        "from SoundData S join SoundFacts F on "
                                                        "F.ID = S.ID order by S.ID"));
    while (rows.step()) keyed.append({rows.textBytes(2), {rows.int64(0), rows.textBytes(1)}});
    return keyed;
}

}  // namespace

QList<DuplicateGroup> groupDuplicates(QList<KeyedEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const KeyedEntry& a, const KeyedEntry& b) {
        return a.entry.id < b.entry.id;
    });
    QHash<QByteArray, qsizetype> groupOf;
    QList<DuplicateGroup> groups;
    for (KeyedEntry& keyed : entries) {
        if (keyed.key.isEmpty()) continue;
        auto found = groupOf.constFind(keyed.key);
        if (found == groupOf.cend()) {
            found = groupOf.insert(keyed.key, groups.size());
            groups.append({keyed.key, {}});
        }
        groups[*found].entries.append(std::move(keyed.entry));
    }
    groups.removeIf([](const DuplicateGroup& group) { return group.entries.size() < 2; });
    // Groups were made in the order of their first IDs; a stable sort keeps it among equals.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const DuplicateGroup& a, const DuplicateGroup& b) {
                         return a.entries.size() > b.entries.size();
                     });
    return groups;
}

QList<DuplicateGroup> findDuplicates(const QString& cataloguePath, DuplicateKind kind) {
    store::Connection connection = store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY);
    switch (kind) {
        case DuplicateKind::SamePath:
            return groupDuplicates(samePathKeys(connection));
        case DuplicateKind::SameAudio:
            return groupDuplicates(sameAudioKeys(connection));
    }
    return {};
}

}  // namespace kalvero::reconcile
