// kalvero-cli's missing and relink.

#include "cli/clicommands.h"
#include "reconcile/missingfiles.h"
#include "reconcile/relink.h"
#include "store/dberrortext.h"

#include <QFileInfo>

namespace kalvero::cli {

using namespace reconcile;

namespace {

const QCommandLineOption& dryRunOption() {
    static const QCommandLineOption option(
        QStringLiteral("dry-run"), QStringLiteral("Say what would change; change nothing."));
    return option;
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
        call.console.print(QStringLiteral("%1\t%2\t%3")
                               .arg(entry.id)
                               .arg(escapedField(entry.name), escapedField(entry.path)));
    call.console.error(missing.size() == 1
                           ? QStringLiteral("1 entry has no file.")
                           : QStringLiteral("%1 entries have no file.").arg(missing.size()));
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
    const QString entries = result.changed == 1 ? QStringLiteral("1 entry")
                                                : QStringLiteral("%1 entries").arg(result.changed);
    call.console.print((dryRun ? QStringLiteral("Would relink %1; %2 of the new paths exist. "
                                                "Nothing was changed (--dry-run).")
                               : QStringLiteral("Relinked %1; %2 of the new paths exist."))
                           .arg(entries)
                           .arg(result.existing));
    return kSuccess;
}

}  // namespace kalvero::cli
