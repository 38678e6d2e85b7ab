// kalvero-cli's missing and relink.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "reconcile/missingfiles.h"
#include "reconcile/relink.h"
#include "store/dberrortext.h"

#include <QFile>
#include <QFileInfo>

namespace kalvero::cli {

using namespace reconcile;
using importer::entries;

namespace {

const QCommandLineOption& dryRunOption() {
    static const QCommandLineOption option(
        QStringLiteral("dry-run"), QStringLiteral("Say what would change; change nothing."));
    return option;
}

// One field of a line: a tab or a line break inside a name or a path would
// split the line, so they are written as \t, \n and \r, and a backslash as \\.
QString field(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::vector<QCommandLineOption> relinkOptions() { return {dryRunOption()}; }

int runMissing(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    QList<MissingEntry> missing;
    try {
        missing = findMissingEntries(call.cataloguePath);
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("read"), call.cataloguePath, error));
        return kFailure;
    }
    for (const MissingEntry& entry : missing)
        call.console.print(
            QStringLiteral("%1\t%2\t%3").arg(entry.id).arg(field(entry.name), field(entry.path)));
    call.console.error(QStringLiteral("%1 %2 no file.")
                           .arg(entries(missing.size()), missing.size() == 1
                                                             ? QStringLiteral("has")
                                                             : QStringLiteral("have")));
    return kSuccess;
}

int runRelink(Invocation& call) {
    const QString& from = call.arguments.at(0);
    const QString& to = call.arguments.at(1);
    if (from.isEmpty() || to.isEmpty()) {
        call.console.error(QStringLiteral("The old and the new folder must not be empty."));
        return kUsageError;
    }
    if (!catalogueExists(call)) return kFailure;
    const bool dryRun = call.parser.isSet(dryRunOption());
    RelinkResult result;
    try {
        result = relinkEntries(call.cataloguePath, from, to, dryRun);
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("change"), call.cataloguePath, error));
        call.console.error(QStringLiteral("Nothing was changed."));
        return kFailure;
    }
    if (result.changed == 0 && result.clashes.isEmpty()) {
        call.console.error(
            QStringLiteral("No entry of the catalogue lies in %1; nothing was changed.")
                .arg(QFile::decodeName(folderKey(from))));
        return kFailure;
    }
    call.console.print(
        (dryRun ? QStringLiteral("Would relink %1; %2 of the new paths %3. "
                                 "Nothing was changed (--dry-run).")
                : QStringLiteral("Relinked %1; %2 of the new paths %3."))
            .arg(entries(result.changed))
            .arg(result.existing)
            .arg(result.existing == 1 ? QStringLiteral("exists") : QStringLiteral("exist")));
    if (result.clashes.isEmpty()) return kSuccess;
    // Listed as `missing` lists: one entry a line, its fields escaped alike.
    const qsizetype kept = result.clashes.size();
    call.console.error(
        QStringLiteral("%1 %2 left unchanged: another entry already names the new path. "
                       "ID, path, new path and the other entry's ID:")
            .arg(entries(kept),
                 dryRun ? QStringLiteral("would be")
                        : (kept == 1 ? QStringLiteral("was") : QStringLiteral("were"))));
    for (const RelinkClash& clash : result.clashes)
        call.console.error(QStringLiteral("%1\t%2\t%3\t%4")
                               .arg(QString::number(clash.id), field(QFile::decodeName(clash.path)),
                                    field(QFile::decodeName(clash.newPath)),
                                    QString::number(clash.otherId)));
    return kFailure;
}

}  // namespace kalvero::cli
