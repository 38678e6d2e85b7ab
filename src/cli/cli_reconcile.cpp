// kalvero-cli's missing, relink, prune and duplicates.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "reconcile/duplicates.h"
#include "reconcile/missingfiles.h"
#include "reconcile/relink.h"
#include "store/dberrortext.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kalvero::cli {

using namespace reconcile;
using importer::entries;

namespace {

const QCommandLineOption& dryRunOption() {
    static const QCommandLineOption option(
        QStringLiteral("dry-run"), QStringLiteral("Say what would change; change nothing."));
    return option;
}

const QCommandLineOption& offlineOption() {
    static const QCommandLineOption option(
        QStringLiteral("offline"),
        QStringLiteral("List the entries on drives that are not connected instead, with the "
                       "drive as a fourth field."));
    return option;
}

const QCommandLineOption& jsonOption() {
    static const QCommandLineOption option(QStringLiteral("json"),
                                           QStringLiteral("Write the results as JSON."));
    return option;
}

// The line `missing` writes for an entry; prune writes the same, so a list
// from one reads as a list from the other.
QString missingLine(const MissingEntry& entry) {
    return QStringLiteral("%1\t%2\t%3")
        .arg(entry.id)
        .arg(escapedField(entry.name), escapedField(entry.path));
}

// "/media/you/SFX-Drive (2), /mnt/Archive (1)"
QString drivesText(const QList<MissingEntry>& offline) {
    QStringList drives;
    for (const auto& [drive, count] : offlineDrives(offline))
        drives << QStringLiteral("%1 (%2)").arg(drive).arg(count);
    return drives.join(QStringLiteral(", "));
}

}  // namespace

std::vector<QCommandLineOption> relinkOptions() { return {dryRunOption()}; }
std::vector<QCommandLineOption> missingOptions() { return {offlineOption()}; }
std::vector<QCommandLineOption> pruneOptions() { return {dryRunOption()}; }
std::vector<QCommandLineOption> duplicatesOptions() { return {jsonOption()}; }

int runMissing(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    MissingReport report;
    try {
        report = findMissingEntries(call.cataloguePath);
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("read"), call.cataloguePath, error));
        return kFailure;
    }
    const QList<MissingEntry>& missing = report.missing;
    const bool listOffline = call.parser.isSet(offlineOption());
    // Scripts read the missing lines as they always were; entries that are
    // only unplugged are not among them, and come on request, in lines of their own shape.
    if (listOffline) {
        for (const MissingEntry& entry : report.offline)
            call.console.print(missingLine(entry) + QLatin1Char('\t') + escapedField(entry.drive));
    } else {
        for (const MissingEntry& entry : missing) call.console.print(missingLine(entry));
    }
    call.console.error(QStringLiteral("%1 %2 no file.")
                           .arg(entries(missing.size()), missing.size() == 1
                                                             ? QStringLiteral("has")
                                                             : QStringLiteral("have")));
    if (!report.offline.isEmpty()) {
        const qsizetype offline = report.offline.size();
        call.console.error(
            QStringLiteral("%1 %2 on drives that are not connected: %3.%4")
                .arg(entries(offline), offline == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                     drivesText(report.offline),
                     listOffline ? QString()
                                 : QStringLiteral(" 'kalvero-cli missing --offline' lists them.")));
    }
    return kSuccess;
}

int runPrune(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    const bool dryRun = call.parser.isSet(dryRunOption());
    PruneResult result;
    try {
        result = pruneMissingEntries(call.cataloguePath, dryRun);
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("change"), call.cataloguePath, error));
        call.console.error(QStringLiteral("Nothing was removed."));
        return kFailure;
    }
    for (const MissingEntry& entry : result.removed) call.console.print(missingLine(entry));
    call.console.error(dryRun ? QStringLiteral("Would remove %1. Nothing was changed (--dry-run).")
                                    .arg(entries(result.removed.size()))
                              : QStringLiteral("Removed %1.").arg(entries(result.removed.size())));
    if (!result.offline.isEmpty())
        call.console.error(QStringLiteral("Kept %1 on drives that are not connected: %2.")
                               .arg(entries(result.offline.size()), drivesText(result.offline)));
    for (const MissingReport::Folder& folder : result.unplugged)
        call.console.error(
            QStringLiteral("Kept %1 under %2: %3 of its %4 %5 no file, so it looks unplugged. "
                           "Nothing was removed there.")
                .arg(entries(folder.missing), QFile::decodeName(folder.folder))
                .arg(folder.missing)
                .arg(entries(folder.entries),
                     folder.missing == 1 ? QStringLiteral("has") : QStringLiteral("have")));
    // As relink does when it leaves entries: what was asked was not all done.
    return result.unplugged.isEmpty() ? kSuccess : kFailure;
}

int runDuplicates(Invocation& call) {
    if (!catalogueExists(call)) return kFailure;
    QList<DuplicateGroup> samePath, sameAudio;
    try {
        samePath = findDuplicates(call.cataloguePath, DuplicateKind::SamePath);
        sameAudio = findDuplicates(call.cataloguePath, DuplicateKind::SameAudio);
    } catch (const store::DbError& error) {
        call.console.error(
            store::describeFailure(QStringLiteral("read"), call.cataloguePath, error));
        return kFailure;
    }
    auto total = [](const QList<DuplicateGroup>& groups) {
        qint64 sum = 0;
        for (const DuplicateGroup& group : groups) sum += group.entries.size();
        return sum;
    };
    if (call.parser.isSet(jsonOption())) {
        QJsonArray list;
        auto append = [&list](const QList<DuplicateGroup>& groups, const QString& same) {
            for (const DuplicateGroup& group : groups) {
                QJsonArray members;
                for (const DuplicateEntry& entry : group.entries)
                    members.append(
                        QJsonObject{{QStringLiteral("id"), entry.id},
                                    {QStringLiteral("path"), QFile::decodeName(entry.path)}});
                list.append(QJsonObject{{QStringLiteral("same"), same},
                                        {QStringLiteral("key"), QFile::decodeName(group.key)},
                                        {QStringLiteral("entries"), members}});
            }
        };
        append(samePath, QStringLiteral("path"));
        append(sameAudio, QStringLiteral("audio"));
        call.console.print(
            QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("groups"), list}})
                                  .toJson(QJsonDocument::Compact)));
    } else {
        // One entry a line, ID and path; a blank line between groups. Lines of
        // a same-audio group have the hash as a third field, so a script can
        // tell the kinds apart.
        bool first = true;
        auto print = [&](const QList<DuplicateGroup>& groups, bool withKey) {
            for (const DuplicateGroup& group : groups) {
                if (!first) call.console.print(QString());
                first = false;
                for (const DuplicateEntry& entry : group.entries)
                    call.console.print(
                        QStringLiteral("%1\t%2").arg(entry.id).arg(
                            escapedField(QFile::decodeName(entry.path))) +
                        (withKey ? QLatin1Char('\t') + QString::fromLatin1(group.key) : QString()));
            }
        };
        print(samePath, false);
        print(sameAudio, true);
    }
    if (samePath.isEmpty())
        call.console.error(QStringLiteral("No two entries name the same path."));
    else
        call.console.error(QStringLiteral("%1 named by more than one entry (%2).")
                               .arg(samePath.size() == 1
                                        ? QStringLiteral("1 path is")
                                        : QStringLiteral("%1 paths are").arg(samePath.size()),
                                    entries(total(samePath))));
    if (!sameAudio.isEmpty())
        call.console.error(QStringLiteral("%1 the audio of more than one entry (%2).")
                               .arg(sameAudio.size() == 1
                                        ? QStringLiteral("1 sound is")
                                        : QStringLiteral("%1 sounds are").arg(sameAudio.size()),
                                    entries(total(sameAudio))));
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
                               .arg(QString::number(clash.id),
                                    escapedField(QFile::decodeName(clash.path)),
                                    escapedField(QFile::decodeName(clash.newPath)),
                                    QString::number(clash.otherId)));
    return kFailure;
}

}  // namespace kalvero::cli
