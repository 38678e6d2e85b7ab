#include "importer/ucs.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <algorithm>

// The list is compiled into a static library, where nothing else would keep
// its registration from being dropped by the linker. The macro must stand
// outside any namespace.
static void registerUcsList() { Q_INIT_RESOURCE(kalvero_ucs); }

namespace kalvero::importer {

namespace {

struct UcsList {
    QHash<QString, QString> fullByCatId;
    // "DOORS-WOOD" in upper case to its CatID.
    QHash<QString, QString> catIdByFull;
    qsizetype shortest = 0;
    qsizetype longest = 0;
};

// Read once, on first use; the list is immutable afterwards and so safe to
// share between the import's threads.
const UcsList& ucsList() {
    static const UcsList list = [] {
        registerUcsList();
        UcsList l;
        QFile file(QStringLiteral(":/kalvero/ucs/ucs-8.2.1-en.tsv"));
        if (!file.open(QIODevice::ReadOnly)) return l;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> columns = lines[i].trimmed().split('\t');
            if (columns.size() < 3) continue;
            const QString catId = QString::fromUtf8(columns[0]);
            const QString full = QString::fromUtf8(columns[1] + '-' + columns[2]);
            l.fullByCatId.insert(catId, full);
            l.shortest = l.shortest ? std::min(l.shortest, catId.size()) : catId.size();
            l.longest = std::max(l.longest, catId.size());
            l.catIdByFull.insert(full.toUpper(), catId);
        }
        return l;
    }();
    return list;
}

}  // namespace

QString ucsCategoryFull(QStringView catId) { return ucsList().fullByCatId.value(catId.toString()); }

QString ucsCatIdFor(QStringView category, QStringView subCategory) {
    if (category.isEmpty() || subCategory.isEmpty()) return {};
    const QString full =
        category.trimmed().toString() + QLatin1Char('-') + subCategory.trimmed().toString();
    return ucsList().catIdByFull.value(full.toUpper());
}

bool parseUcsName(QStringView baseName, UcsName& out) {
    qsizetype end = 0;
    while (end < baseName.size() && baseName[end] != QLatin1Char('_') &&
           baseName[end] != QLatin1Char('-'))
        ++end;
    const QStringView catId = baseName.first(end);
    // Most names are longer than any CatID: they fail here, unlooked-up.
    const UcsList& list = ucsList();
    if (catId.size() < list.shortest || catId.size() > list.longest ||
        ucsCategoryFull(catId).isEmpty())
        return false;
    out = UcsName{};
    out.catId = catId.toString();
    const QList<QStringView> blocks = baseName.split(QLatin1Char('_'));
    const QStringView first = blocks.value(0);
    if (first.size() > end) out.userCategory = first.sliced(end + 1).toString();
    out.fxName = blocks.value(1).toString();
    if (const qsizetype dash = out.fxName.indexOf(QLatin1Char('-')); dash > 0)
        out.vendorCategory = out.fxName.first(dash);
    out.creatorId = blocks.value(2).toString();
    out.sourceId = blocks.value(3).toString();
    // User data is the rest of the name after the fourth '_', underscores and all.
    qsizetype at = -1;
    for (int found = 0; found < 4; ++found) {
        at = baseName.indexOf(QLatin1Char('_'), at + 1);
        if (at < 0) break;
    }
    if (at >= 0) out.userData = baseName.sliced(at + 1).toString();
    return true;
}

}  // namespace kalvero::importer
