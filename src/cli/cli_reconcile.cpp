// kalvero-cli's missing, relink, prune and duplicates.

#include "cli/clicommands.h"
#include "importer/counted.h"
#include "reconcile/duplicates.h"
#include "reconcile/missingfiles.h"
#include "reconcile/relink.h"
#include "reconcile/relinkfind.h"
#include "store/dberrortext.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace kalvero::cli {

using namespace reconcile;
using importer::counted;
using importer::entries;

namespace {

const QCommandLineOption& dryRunOption() {
    static const QCommandLineOption option(
        QStringLiteral("dry-run"), QStringLiteral("Say what would change; change nothing."));
    return option;
}

const QCommandLineOption& findOption() {
    static const QCommandLineOption option(
        QStringLiteral("find"),
        QStringLiteral("Instead of moving a folder, point each missing entry to the file under "
                       "FOLDER with its analysed size and audio."),
        QStringLiteral("FOLDER"));
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

std::vector<QCommandLineOption> relinkOptions() { return {dryRunOption(), findOption()}; }
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

namespace {

// "Looked at 1200 sound files under /x", then "12 of 40 files decoded".
QString findProgressLine(const RelinkFindProgress& progress, const QString& folder,
                         qint64 elapsedMs) {
    const qint64 toDecode = progress.toDecode.load();
    if (toDecode == 0)
        return QStringLiteral("Looked at %1 under %2")
            .arg(counted(progress.walked.load(), QStringLiteral("%1 sound file"),
                         QStringLiteral("%1 sound files")),
                 folder);
    const qint64 decoded = progress.decoded.load();
    return QStringLiteral("%1 of %2 of a missing entry's size decoded, ")
               .arg(decoded)
               .arg(counted(toDecode, QStringLiteral("%1 file"), QStringLiteral("%1 files"))) +
           rateText(decoded, elapsedMs);
}

int runRelinkFind(Invocation& call) {
    const QString folder = call.parser.value(findOption());
    if (!call.arguments.isEmpty()) {
        call.console.error(QStringLiteral("Usage: kalvero-cli relink --find FOLDER [--dry-run]"));
        return kUsageError;
    }
    if (folder.isEmpty()) {
        call.console.error(QStringLiteral("--find needs a folder."));
        return kUsageError;
    }
    if (!catalogueExists(call)) return kFailure;
    const QString shown = QFile::decodeName(folderKey(folder));
    if (!QFileInfo(folder).isDir()) {
        call.console.error(QStringLiteral("No folder at %1; nothing was changed.").arg(shown));
        return kFailure;
    }
    const bool dryRun = call.parser.isSet(dryRunOption());
    RelinkFindProgress progress;
    RelinkFindResult result;
    std::optional<store::DbError> failure;
    runWithProgress(
        call.console, progress.cancel,
        [&] {
            try {
                result = relinkByContent(call.cataloguePath, folder, dryRun, progress);
            } catch (const store::DbError& error) {
                failure = error;
            }
        },
        [&](qint64 elapsedMs) { return findProgressLine(progress, shown, elapsedMs); },
        [&] { return progress.walked.load() / 10000 + progress.decoded.load() / 100; });
    if (failure) {
        call.console.error(
            store::describeFailure(QStringLiteral("change"), call.cataloguePath, *failure));
        call.console.error(QStringLiteral("Nothing was changed."));
        return kFailure;
    }
    if (result.cancelled) {
        call.console.error(QStringLiteral("Stopped; nothing was changed."));
        return kFailure;
    }

    // The moves on standard output, as `missing` lists, for scripts; what
    // was left and why on standard error.
    for (const FoundFile& found : result.moved)
        call.console.print(QStringLiteral("%1\t%2\t%3")
                               .arg(QString::number(found.id),
                                    escapedField(QFile::decodeName(found.path)),
                                    escapedField(QFile::decodeName(found.newPath))));
    // "was left alone", "were not moved", "would not be moved"
    auto leftAs = [dryRun](qsizetype count, const QString& how) {
        if (dryRun)
            return how.startsWith(QLatin1String("not "))
                       ? QStringLiteral("would not be ") + how.mid(4)
                       : QStringLiteral("would be ") + how;
        return (count == 1 ? QStringLiteral("was ") : QStringLiteral("were ")) + how;
    };
    if (result.sought > 0) {
        QString said = (dryRun ? QStringLiteral("Would relink %1") : QStringLiteral("Relinked %1"))
                           .arg(entries(result.moved.size())) +
                       QStringLiteral(" to files under %1 with the same audio").arg(shown);
        if (result.notFound > 0)
            said += counted(result.notFound, QStringLiteral("; %1 missing entry was not found"),
                            QStringLiteral("; %1 missing entries were not found"));
        said += QLatin1Char('.');
        if (dryRun) said += QStringLiteral(" Nothing was changed (--dry-run).");
        call.console.error(said);
        call.console.error(QStringLiteral("Decoded %1 of the %2 there: those of a missing entry's "
                                          "size.")
                               .arg(result.decoded)
                               .arg(counted(result.walked, QStringLiteral("%1 sound file"),
                                            QStringLiteral("%1 sound files"))));
    } else if (result.unanalysed == 0) {
        call.console.error(QStringLiteral("No entry's file is missing; nothing was changed."));
    } else {
        call.console.error(
            QStringLiteral("No missing entry could be looked for; nothing was "
                           "changed."));
    }
    if (!result.taken.isEmpty()) {
        call.console.error(
            QStringLiteral("%1 %2: the file with the same audio is already another entry's. "
                           "ID, path, that file and the other entry's ID:")
                .arg(entries(result.taken.size()),
                     leftAs(result.taken.size(), QStringLiteral("not moved"))));
        for (const TakenMatch& taken : result.taken)
            call.console.error(QStringLiteral("%1\t%2\t%3\t%4")
                                   .arg(QString::number(taken.id),
                                        escapedField(QFile::decodeName(taken.path)),
                                        escapedField(QFile::decodeName(taken.newPath)),
                                        QString::number(taken.otherId)));
    }
    if (!result.ambiguous.isEmpty()) {
        call.console.error(
            QStringLiteral("%1 %2: more than one file has the same audio, or one file "
                           "has the audio of more than one entry. ID, path and the files with "
                           "the same audio:")
                .arg(entries(result.ambiguous.size()),
                     leftAs(result.ambiguous.size(), QStringLiteral("left alone"))));
        for (const AmbiguousMatch& match : result.ambiguous) {
            QString line = QStringLiteral("%1\t%2").arg(
                QString::number(match.id), escapedField(QFile::decodeName(match.path)));
            for (const QByteArray& candidate : match.candidates)
                line += QLatin1Char('\t') + escapedField(QFile::decodeName(candidate));
            call.console.error(line);
        }
    }
    if (result.changedSince > 0)
        call.console.error(counted(result.changedSince,
                                   QStringLiteral("%1 entry was changed by another program "
                                                  "meanwhile and keeps that change."),
                                   QStringLiteral("%1 entries were changed by another program "
                                                  "meanwhile and keep that change.")));
    for (const AnalysisFailure& failed : result.unreadable)
        call.console.error(QStringLiteral("Could not read %1: %2").arg(failed.path, failed.reason));
    if (result.unreadableFolders > 0)
        call.console.error(counted(result.unreadableFolders,
                                   QStringLiteral("%1 folder under %2 could not be read."),
                                   QStringLiteral("%1 folders under %2 could not be read."))
                               .arg(shown));
    if (result.unanalysed > 0)
        call.console.error(
            counted(result.unanalysed,
                    QStringLiteral("%1 missing entry has no analysis of its audio, so its file "
                                   "cannot be recognised"),
                    QStringLiteral("%1 missing entries have no analysis of their audio, so their "
                                   "files cannot be recognised")) +
            QStringLiteral(" ('kalvero-cli analyse' must run while the files are in place). "
                           "'kalvero-cli relink OLD_FOLDER NEW_FOLDER' moves entries by folder."));
    if (result.offline > 0)
        call.console.error(counted(result.offline,
                                   QStringLiteral("%1 entry on a drive that is not connected "
                                                  "was not looked for."),
                                   QStringLiteral("%1 entries on drives that are not connected "
                                                  "were not looked for.")));
    // As relink by folder does when it leaves entries: what was asked was not all done.
    const bool complete = result.taken.isEmpty() && result.ambiguous.isEmpty() &&
                          result.changedSince == 0 && result.unreadable.isEmpty() &&
                          result.unreadableFolders == 0;
    return complete ? kSuccess : kFailure;
}

}  // namespace

int runRelink(Invocation& call) {
    if (call.parser.isSet(findOption())) return runRelinkFind(call);
    if (call.arguments.size() != 2) {
        call.console.error(QStringLiteral("Usage: kalvero-cli relink OLD_FOLDER NEW_FOLDER"));
        return kUsageError;
    }
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
