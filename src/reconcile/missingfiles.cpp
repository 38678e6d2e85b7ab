#include "reconcile/missingfiles.h"

#include "store/catalogue.h"

#include <QFileInfo>

namespace kalvero::reconcile {

bool isSoundFileMissing(const QString& path) {
    if (path.isEmpty()) return true;
    const QFileInfo info(path);
    return !info.exists() || info.isDir();
}

QList<MissingEntry> findMissingEntries(const QString& cataloguePath) {
    store::Connection connection = store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY);
    store::Statement rows(
        connection, QByteArrayLiteral("select ID, NameData, FilePath from SoundData order by ID"));
    QList<MissingEntry> missing;
    while (rows.step()) {
        QString path = QString::fromUtf8(rows.textBytes(2));
        if (!isSoundFileMissing(path)) continue;
        missing.append({rows.textBytes(0).toLongLong(), QString::fromUtf8(rows.textBytes(1)),
                        std::move(path)});
    }
    return missing;
}

}  // namespace kalvero::reconcile
