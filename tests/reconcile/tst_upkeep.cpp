// kalvero-cli's missing, prune, duplicates, analyse and rescan over a temporary tree whose media
// folders and mount points are given to the scan; the mount table; the list's tooltip.

#include "reconcile/drives.h"
#include "store/catalogue.h"
#include "store/facts.h"
#include "store/transaction.h"
#include "testsupport.h"
#include "window/fileexistence.h"

#include <sndfile.h>

#include <QProcess>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

using namespace Qt::StringLiterals;
using kalvero::test::CliRun;
using kalvero::test::Entry;
using kalvero::test::runCli;
using kalvero::test::TempProgramFolder;
namespace reconcile = kalvero::reconcile;

namespace {

// The first field of each line: the IDs a listing names.
QList<qint64> idsOf(const QString& lines) {
    QList<qint64> ids;
    for (const QString& line : lines.split(u'\n', Qt::SkipEmptyParts))
        ids << line.section(u'\t', 0, 0).toLongLong();
    return ids;
}

// The tree's media folders: per-user drives under media/, one level under mnt/.
reconcile::Volumes volumesIn(const QString& root, const QStringList& mounts) {
    QSet<QByteArray> points;
    for (const QString& m : mounts)
        points.insert(QFile::encodeName(QString(m).replace(u'@', root)));
    return reconcile::Volumes(
        {{QFile::encodeName(root + u"/media"_s), 2}, {QFile::encodeName(root + u"/mnt"_s), 1}},
        points);
}

// A short tone of its own for each `n`, as a 16-bit stereo WAV file; titles
// of the same length give files of the same size.
bool writeTone(const QString& path, int n, const char* title = nullptr, int frames = 12000) {
    SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    if (title) sf_set_string(file, SF_STR_TITLE, title);
    std::vector<short> samples(2 * size_t(frames));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = short((i * (n + 1)) % 20000);
    const bool ok = sf_write_short(file, samples.data(), sf_count_t(samples.size())) ==
                    sf_count_t(samples.size());
    return sf_close(file) == 0 && ok;
}

}  // namespace

class UpkeepTest : public QObject {
    Q_OBJECT
private slots:
    void missingAndPrune_data();
    void missingAndPrune();
    void duplicates_data();
    void duplicates();
    void analyseKilledAndResumed();
    void relinkFind_data();
    void relinkFind();
    void rescan_data();
    void rescan();
    void mountTable();
    void unpluggedDriveToolTip();
};

void UpkeepTest::missingAndPrune_data() {
    // Entries: "+path" a file that is there, "-path" one that is gone, "-"
    // no path, "=path" an empty folder and no entry; "@" is the tree. IDs
    // follow the order, from 1.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("mounts");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QList<qint64>>("missing");
    QTest::addColumn<QString>("missingSaid");  // missing's standard error
    QTest::addColumn<QList<qint64>>("offline");
    QTest::addColumn<QList<qint64>>("removed");
    QTest::addColumn<QString>("pruneSaid");
    QTest::addColumn<int>("code");

    const QString lib = u"@/lib 'q' 100%"_s;
    const QStringList four{u"+"_s + lib + u"/a.wav"_s, u"-"_s + lib + u"/b \"é\".wav"_s,
                           u"+"_s + lib + u"/c.wav"_s, u"+"_s + lib + u"/d.wav"_s, u"-"_s};
    QTest::newRow("gone, present, no path (never removed)")
        << four << QStringList{lib} << false << QList<qint64>{2, 5}
        << u"2 entries have no file.\n"_s << QList<qint64>{} << QList<qint64>{2}
        << u"Removed 1 entry.\n"_s << 0;
    QTest::newRow("dry run") << four << QStringList{lib} << true << QList<qint64>{2, 5}
                             << u"2 entries have no file.\n"_s << QList<qint64>{}
                             << QList<qint64>{2}
                             << u"Would remove 1 entry. Nothing was changed (--dry-run).\n"_s << 0;
    QTest::newRow("offline drive, its folder absent")
        << QStringList{u"-@/media/you/SFX-Drive/x 'é' 音.wav"_s,
                       u"-@/media/you/SFX-Drive/sub/y%.wav"_s, u"-@/gone.wav"_s, u"+@/here.wav"_s,
                       u"+@/there.wav"_s}
        << QStringList{} << false << QList<qint64>{3}
        << u"1 entry has no file.\n2 entries are on drives that are not connected: "
           "@/media/you/SFX-Drive (2). 'kalvero-cli missing --offline' lists them.\n"_s
        << QList<qint64>{1, 2} << QList<qint64>{3}
        << u"Removed 1 entry.\nKept 2 entries on drives that are not connected: "
           "@/media/you/SFX-Drive (2).\n"_s
        << 0;
    QTest::newRow("offline drive, its folder there but nothing mounted")
        << QStringList{u"-@/mnt/Archive 音/a.wav"_s, u"-@/media/usb0/b.wav"_s,
                       u"=@/mnt/Archive 音"_s}
        << QStringList{} << false << QList<qint64>{}
        << u"0 entries have no file.\n2 entries are on drives that are not connected: "
           "@/media/usb0 (1), @/mnt/Archive 音 (1). 'kalvero-cli missing --offline' lists them.\n"_s
        << QList<qint64>{1, 2} << QList<qint64>{}
        << u"Removed 0 entries.\nKept 2 entries on drives that are not connected: "
           "@/media/usb0 (1), @/mnt/Archive 音 (1).\n"_s
        << 0;
    QTest::newRow("mounted drive, half its files gone")
        << QStringList{u"-@/media/you/Lib/w.wav"_s, u"-@/media/you/Lib/x.wav"_s,
                       u"+@/media/you/Lib/y.wav"_s, u"+@/media/you/Lib/z.wav"_s}
        << QStringList{u"@/media/you/Lib"_s} << false << QList<qint64>{1, 2}
        << u"2 entries have no file.\n"_s << QList<qint64>{} << QList<qint64>{1, 2}
        << u"Removed 2 entries.\n"_s << 0;
    QTest::newRow("folder looking unplugged")
        << QStringList{u"-"_s + lib + u"/a.wav"_s, u"-"_s + lib + u"/b \"é\".wav"_s,
                       u"+"_s + lib + u"/c.wav"_s, u"-"_s + lib + u"/d.wav"_s,
                       u"-@/other/x.wav"_s,        u"+@/other/y.wav"_s,
                       u"+@/other/z.wav"_s}
        << QStringList{lib, u"@/other"_s} << false << QList<qint64>{1, 2, 4, 5}
        << u"4 entries have no file.\n"_s << QList<qint64>{} << QList<qint64>{5}
        << u"Removed 1 entry.\nKept 3 entries under "_s + lib +
               u": 3 of its 4 entries have no file, so it looks unplugged. Nothing was removed "
               "there.\n"_s
        << 1;
}

void UpkeepTest::missingAndPrune() {
    QFETCH(QStringList, entries);
    QFETCH(QStringList, mounts);
    QFETCH(bool, dryRun);
    QFETCH(QList<qint64>, missing);
    QFETCH(QString, missingSaid);
    QFETCH(QList<qint64>, offline);
    QFETCH(QList<qint64>, removed);
    QFETCH(QString, pruneSaid);
    QFETCH(int, code);

    QTemporaryDir tree;
    const QString root = tree.path();
    auto at = [&root](QString text) { return text.replace(u'@', root); };
    QList<Entry> rows;
    for (const QString& item : entries) {
        const QString path = at(item.mid(1));
        if (item.startsWith(u'=')) {
            QVERIFY(QDir().mkpath(path));
            continue;
        }
        if (item.startsWith(u'+')) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        }
        rows.append(
            {0, u"n%1 'x'"_s.arg(rows.size() + 1), path.isEmpty() ? QString() : path, {}, {}});
    }
    TempProgramFolder program;
    program.createCatalogue(rows);
    const reconcile::ScopedVolumes volumes(volumesIn(root, mounts));

    CliRun run = runCli(program, {u"missing"_s});
    QCOMPARE(run.code, 0);
    QCOMPARE(idsOf(run.out), missing);
    QCOMPARE(run.err, at(missingSaid));
    run = runCli(program, {u"missing"_s, u"--offline"_s});
    QCOMPARE(idsOf(run.out), offline);
    for (const QString& line : run.out.split(u'\n', Qt::SkipEmptyParts))
        QVERIFY2(line.section(u'\t', 3).startsWith(root + u"/m"_s), qPrintable(line));

    QStringList arguments{u"prune"_s};
    if (dryRun) arguments << u"--dry-run"_s;
    run = runCli(program, arguments);
    QCOMPARE(run.err, at(pruneSaid));
    QCOMPARE(run.code, code);
    QCOMPARE(idsOf(run.out), removed);
    QList<qint64> left;
    for (const Entry& e : program.readEntries()) left << e.id;
    QList<qint64> expected;
    for (qint64 id = 1; id <= rows.size(); ++id)
        if (dryRun || !removed.contains(id)) expected << id;
    QCOMPARE(left, expected);
}

void UpkeepTest::duplicates_data() {
    QTest::addColumn<QStringList>("paths");   // IDs from 1
    QTest::addColumn<QStringList>("hashes");  // the stored analyses' hashes; empty: none
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("said");
    const QString none = u"No two entries name the same path.\n"_s;
    QTest::newRow("none") << QStringList{u"/a.wav"_s, u"/b.wav"_s} << QStringList() << false
                          << QString() << none;
    const QString nfc = u"/é 'q'.wav"_s;
    QTest::newRow("letter case and Unicode forms are other paths")
        << QStringList{u"/A.wav"_s, u"/a.wav"_s, nfc, nfc.normalized(QString::NormalizationForm_D)}
        << QStringList() << false << QString() << none;
    const QString a = u"/x/a 100%.wav"_s, b = u"/y/\"b\".wav"_s, c = u"/z/音.wav"_s;
    QTest::newRow("largest group first, then by first ID")
        << QStringList{a, b, b, a, b, c, c} << QStringList() << false
        << u"2\t%2\n3\t%2\n5\t%2\n\n1\t%1\n4\t%1\n\n6\t%3\n7\t%3\n"_s.arg(a, b, c)
        << u"3 paths are named by more than one entry (7 entries).\n"_s;
    QTest::newRow("no path is no shared path, a tab is written escaped")
        << QStringList{QString(), QString(), u"/t\tab.wav"_s, u"/t\tab.wav"_s} << QStringList()
        << false << u"3\t/t\\tab.wav\n4\t/t\\tab.wav\n"_s
        << u"1 path is named by more than one entry (2 entries).\n"_s;
    QTest::newRow("as JSON")
        << QStringList{u"/s/\"q\" \\ é.wav"_s, u"/o.wav"_s, u"/s/\"q\" \\ é.wav"_s} << QStringList()
        << true
        << u"{\"groups\":[{\"entries\":[{\"id\":1,\"path\":\"/s/\\\"q\\\" \\\\ "
           "é.wav\"},{\"id\":3,\"path\":\"/s/\\\"q\\\" \\\\ é.wav\"}],\"key\":"
           "\"/s/\\\"q\\\" \\\\ é.wav\",\"same\":\"path\"}]}\n"_s
        << u"1 path is named by more than one entry (2 entries).\n"_s;
    const QString h1 = u"aa01"_s, h2 = u"bb02"_s;
    QTest::newRow("same audio; entries not analysed are not grouped")
        << QStringList{u"/1 'é'.wav"_s, u"/2.wav"_s, u"/3 音.flac"_s, u"/4.wav"_s, u"/5.aif"_s}
        << QStringList{h1, h2, h1, QString(), h1} << false
        << u"1\t/1 'é'.wav\t%1\n3\t/3 音.flac\t%1\n5\t/5.aif\t%1\n"_s.arg(h1)
        << none + u"1 sound is the audio of more than one entry (3 entries).\n"_s;
    QTest::newRow("both kinds, as JSON")
        << QStringList{u"/p.wav"_s, u"/p.wav"_s, u"/q.wav"_s} << QStringList{h2, h2, h2} << true
        << u"{\"groups\":[{\"entries\":[{\"id\":1,\"path\":\"/p.wav\"},{\"id\":2,\"path\":\"/"
           u"p.wav\"}],"
           "\"key\":\"/p.wav\",\"same\":\"path\"},{\"entries\":[{\"id\":1,\"path\":\"/p.wav\"},"
           "{\"id\":2,\"path\":\"/p.wav\"},{\"id\":3,\"path\":\"/q.wav\"}],\"key\":\"%1\",\"same\":"
           "\"audio\"}]}\n"_s.arg(h2)
        << u"1 path is named by more than one entry (2 entries).\n1 sound is the audio of more "
           "than one entry (3 entries).\n"_s;
}

void UpkeepTest::duplicates() {
    QFETCH(QStringList, paths);
    QFETCH(QStringList, hashes);
    QFETCH(bool, json);
    QFETCH(QString, out);
    QFETCH(QString, said);
    TempProgramFolder program;
    QList<Entry> rows;
    for (const QString& path : paths) rows.append({0, u"n"_s, path, {}, {}});
    program.createCatalogue(rows);
    if (!hashes.isEmpty()) {
        kalvero::store::Connection connection =
            kalvero::store::openCatalogueFile(program.cataloguePath(), SQLITE_OPEN_READWRITE);
        kalvero::store::Transaction transaction(connection);
        kalvero::store::prepareFactsTable(connection);
        kalvero::store::FactsUpdater updater(connection, {kalvero::store::Fact::AudioHash});
        kalvero::store::FactValues values;
        for (qsizetype i = 0; i < hashes.size(); ++i) {
            values[kalvero::store::Fact::AudioHash] = hashes[i];
            updater.write(i + 1, values);
        }
        transaction.commit();
    }
    const CliRun run = runCli(
        program, json ? QStringList{u"duplicates"_s, u"--json"_s} : QStringList{u"duplicates"_s});
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, said);
    QCOMPARE(run.code, 0);
    // Options stay with their commands: --json is not prune's, --dry-run is prune's and relink's.
    QCOMPARE(runCli(program, {u"prune"_s, u"--json"_s}).code, 2);
    QCOMPARE(runCli(program, {u"duplicates"_s, u"--dry-run"_s}).code, 2);
}

// A run killed after its first batches keeps them; the next run analyses only
// the rest, and a run after that only the file that changed.
void UpkeepTest::analyseKilledAndResumed() {
    constexpr int kSounds = 300;
    QTemporaryDir tree;
    const QString folder = tree.filePath(u"Sons 'é' \"音\""_s);
    QVERIFY(QDir().mkpath(folder));
    QList<Entry> rows;
    for (int n = 0; n < kSounds; ++n) {
        const QString path = folder + u"/tone %1 'q'.wav"_s.arg(n);
        QVERIFY(writeTone(path, n));
        rows.append({0, u"tone"_s, path, {}, {}});
    }
    const QString notSound = folder + u"/not a sound.wav"_s;
    QFile text(notSound);
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("RIFF but no more") > 0);
    text.close();
    rows.append({0, u"text"_s, notSound, {}, {}});
    rows.append({0, u"gone"_s, folder + u"/gone.wav"_s, {}, {}});
    TempProgramFolder program;
    program.createCatalogue(rows);

    QProcess first;
    first.start(QStringLiteral(KALVERO_CLI),
                {u"--catalogue"_s, program.cataloguePath(), u"analyse"_s});
    QVERIFY(first.waitForStarted());
    kalvero::store::Connection reader =
        kalvero::store::openCatalogueFile(program.cataloguePath(), SQLITE_OPEN_READONLY);
    sqlite3_busy_timeout(reader.handle(), 60000);
    // Polled inside a read transaction that stays open once a batch is seen:
    // the run cannot commit another while it is held, so what it stored is known.
    qint64 stored = 0;
    while (stored == 0 && first.state() == QProcess::Running) {
        reader.exec("BEGIN");
        try {
            kalvero::store::Statement count(
                reader, "select count(*) from SoundFacts where AnalysedSize is not null");
            count.step();
            stored = count.int64(0);
        } catch (const kalvero::store::DbError&) {
            // The table is not made yet.
        }
        if (stored == 0) {
            reader.exec("COMMIT");
            first.waitForFinished(5);
        }
    }
    first.kill();
    QVERIFY(first.waitForFinished());
    reader.exec("COMMIT");
    QVERIFY2(stored > 0 && stored < kSounds, qPrintable(QString::number(stored)));

    const QString rest = u"; %1 were up to date, 1 has no file, 1 could not be analysed.\n"_s;
    CliRun run = runCli(program, {u"analyse"_s});
    QCOMPARE(run.out, u"Analysed %1 files"_s.arg(kSounds - stored) + rest.arg(stored));
    QVERIFY2(run.err.contains(u"\nNot analysed: %1: Not a sound file"_s.arg(notSound)),
             qPrintable(run.err));
    QCOMPARE(run.code, 0);

    // Other audio of the same length: only the time tells the file changed.
    QVERIFY(writeTone(folder + u"/tone 7 'q'.wav"_s, 8));
    run = runCli(program, {u"analyse"_s});
    QCOMPARE(run.out, u"Analysed 1 file"_s + rest.arg(kSounds - 1));
    run = runCli(program, {u"analyse"_s, u"--all"_s});
    QCOMPARE(run.out,
             u"Analysed %1 files; 1 has no file, 1 could not be analysed.\n"_s.arg(kSounds));
}

void UpkeepTest::relinkFind_data() {
    // Entries "N|path": a file with tone N is there and analysed; "!N|path":
    // it comes only after the analysis. Then, on the tree: "mv|from|to",
    // "cp|from|to", "rm|path", "tag|N|path" (tone N again, with another title
    // of the same length), "junk|path" (no sound, of another size). "@" is the tree; relink looks
    // under @/new.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("paths");  // after the run, in ID order

    const QString odd = u"@/old/Ünï 'q' \"dq\" 100%_ 声.wav"_s,
                  oddNew = u"@/new/Été %_ голос.wav"_s;
    const QStringList moved{u"0|@/old/a.wav"_s, u"1|"_s + odd};
    const QStringList moves{u"mv|@/old/a.wav|@/new/sub/a 'b'.wav"_s, u"mv|"_s + odd + u'|' + oddNew,
                            u"tag|1|"_s + oddNew};
    const QString movedOut =
        u"1\t@/old/a.wav\t@/new/sub/a 'b'.wav\n2\t"_s + odd + u'\t' + oddNew + u'\n';
    const QString decoded =
        u"Decoded %1 of the %2 sound files there: those of a missing entry's "
        "size.\n"_s;
    QTest::newRow("moved, moved and re-tagged, odd names")
        << moved << moves << false << movedOut
        << u"Relinked 2 entries to files under @/new with the same audio.\n"_s +
               decoded.arg(2).arg(2)
        << 0 << QStringList{u"@/new/sub/a 'b'.wav"_s, oddNew};
    QTest::newRow("dry run") << moved << moves << true << movedOut
                             << u"Would relink 2 entries to files under @/new with the same audio. "
                                "Nothing was changed (--dry-run).\n"_s +
                                    decoded.arg(2).arg(2)
                             << 0 << QStringList{u"@/old/a.wav"_s, odd};
    QTest::newRow("two copies; one file with the audio of two entries")
        << QStringList{u"0|@/old/a.wav"_s, u"0|@/old/b.wav"_s, u"1|@/old/c.wav"_s}
        << QStringList{u"mv|@/old/a.wav|@/new/a.wav"_s, u"rm|@/old/b.wav"_s,
                       u"cp|@/old/c.wav|@/new/c1.wav"_s, u"mv|@/old/c.wav|@/new/c2.wav"_s}
        << false << QString()
        << u"Relinked 0 entries to files under @/new with the same audio.\n"_s +
               decoded.arg(3).arg(3) +
               u"3 entries were left alone: more than one file has the same audio, or one file "
               "has the audio of more than one entry. ID, path and the files with the same "
               "audio:\n1\t@/old/a.wav\t@/new/a.wav\n2\t@/old/b.wav\t@/new/a.wav\n"
               "3\t@/old/c.wav\t@/new/c1.wav\t@/new/c2.wav\n"_s
        << 1 << QStringList{u"@/old/a.wav"_s, u"@/old/b.wav"_s, u"@/old/c.wav"_s};
    QTest::newRow("other audio of the same size, no analysis, another entry's file, dry run")
        << QStringList{u"1|@/old/x.wav"_s, u"!3|@/old/u.wav"_s, u"0|@/old/t.wav"_s,
                       u"5|@/new/b.wav"_s}
        << QStringList{u"rm|@/old/x.wav"_s,
                       u"tag|2|@/new/y.wav"_s,
                       u"mv|@/old/u.wav|@/new/u.wav"_s,
                       u"rm|@/old/t.wav"_s,
                       u"tag|0|@/new/b.wav"_s,
                       u"junk|@/new/not 'a' sound.wav"_s}
        << true << QString()
        << u"Would relink 0 entries to files under @/new with the same audio; 1 missing entry "
           "was not found. Nothing was changed (--dry-run).\n"_s +
               decoded.arg(3).arg(4) +
               u"1 entry would not be moved: the file with the same audio is already another "
               u"entry's. "
               "ID, path, that file and the other entry's ID:\n3\t@/old/t.wav\t@/new/b.wav\t4\n"
               "1 missing entry has no analysis of its audio, so its file cannot be recognised "
               "('kalvero-cli analyse' must run while the files are in place). 'kalvero-cli "
               "relink OLD_FOLDER NEW_FOLDER' moves entries by folder.\n"_s
        << 1 << QStringList{u"@/old/x.wav"_s, u"@/old/u.wav"_s, u"@/old/t.wav"_s, u"@/new/b.wav"_s};
}

void UpkeepTest::relinkFind() {
    QFETCH(QStringList, entries);
    QFETCH(QStringList, changes);
    QFETCH(bool, dryRun);
    QFETCH(QString, out);
    QFETCH(QString, said);
    QFETCH(int, code);
    QFETCH(QStringList, paths);

    QTemporaryDir tree;
    auto at = [&tree](QString text) { return text.replace(u'@', tree.path()); };
    auto tone = [](const QString& path, int n, const char* title) {
        return QDir().mkpath(QFileInfo(path).path()) && writeTone(path, n, title);
    };
    QList<Entry> rows;
    QList<std::pair<QString, int>> late;
    for (const QString& item : entries) {
        const QString path = at(item.section(u'|', 1));
        const int n = item.section(u'|', 0, 0).remove(u'!').toInt();
        if (item.startsWith(u'!'))
            late.append({path, n});
        else
            QVERIFY(tone(path, n, "Door"));
        rows.append({0, u"n"_s, path, {}, {}});
    }
    TempProgramFolder program;
    program.createCatalogue(rows);
    QVERIFY(runCli(program, {u"analyse"_s})
                .out.startsWith(u"Analysed %1 files"_s.arg(rows.size() - late.size())));
    for (const auto& [path, n] : late) QVERIFY(tone(path, n, "Door"));
    for (const QString& change : changes) {
        const QStringList f = at(change).split(u'|');
        if (f[0] == u"tag"_s) QVERIFY(tone(f[2], f[1].toInt(), "Gate"));
        if (f[0] == u"junk"_s) {
            QFile junk(f[1]);
            QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("RIFF") == 4);
            continue;
        }
        if (f[0] == u"rm"_s || f[0] == u"mv"_s) QVERIFY(QFile::exists(f[1]));
        if (f[0] != u"tag"_s && f[0] != u"rm"_s)
            QVERIFY(QDir().mkpath(QFileInfo(f[2]).path()) && QFile::copy(f[1], f[2]));
        if (f[0] == u"rm"_s || f[0] == u"mv"_s) QVERIFY(QFile::remove(f[1]));
    }

    QStringList arguments{u"relink"_s, u"--find"_s, tree.filePath(u"new"_s)};
    if (dryRun) arguments << u"--dry-run"_s;
    const CliRun run = runCli(program, arguments);
    QCOMPARE(run.out, at(out));
    QCOMPARE(run.err, at(said));
    QCOMPARE(run.code, code);
    QStringList left;
    for (const Entry& e : program.readEntries()) left << e.file;
    for (QString& path : paths) path = at(path);
    QCOMPARE(left, paths);
}

void UpkeepTest::rescan_data() {
    // Five files imported, IDs 1 to 5: "@L/a 'é'.wav", "@L/b_%.wav", "@L/c 音.wav",
    // "@L/sub/d.wav", "@O/o.wav". Then each op: "+" a new file, "-" deleted, "~" another
    // length, "=" the same size and a later time, "0" unreadable.
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("offline");  // an entry on an unplugged drive too, ID 6
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<qint64>>("reread");
    QTest::addColumn<int>("added");
    const QString none = u"Nothing new, changed or gone.\n"_s;
    const QString oneChanged = u"Read again 1 changed file.\n"_s;
    QTest::newRow("nothing changed: no file read")
        << QStringList{u"0@L/a 'é'.wav"_s} << QStringList() << false << QString() << none << 0
        << QList<qint64>{} << 0;
    QTest::newRow("new, changed and gone; texts and analysis kept")
        << QStringList{u"+@L/new \"q\" 音.wav"_s, u"~@L/b_%.wav"_s, u"-@L/c 音.wav"_s}
        << QStringList() << true << u"3\t@L/c 音.wav\n"_s
        << u"Added 1 new sound file. Read again 1 changed file. 1 file is gone (kept in the "
           "catalogue). 1 entry is on a drive that is not connected: @/media/you/Drive.\n"_s
        << 0 << QList<qint64>{2} << 1;
    QTest::newRow("same size, later time")
        << QStringList{u"=@L/sub/d.wav"_s} << QStringList{u"@L/sub"_s} << false << QString()
        << oneChanged << 0 << QList<qint64>{4} << 0;
    QTest::newRow("only the folder named")
        << QStringList{u"-@L/a 'é'.wav"_s, u"+@L/x.wav"_s, u"~@O/o.wav"_s} << QStringList{u"@O"_s}
        << false << QString() << oneChanged << 0 << QList<qint64>{5} << 0;
    QTest::newRow("looks unplugged: nothing changed")
        << QStringList{u"-@L/a 'é'.wav"_s, u"-@L/b_%.wav"_s, u"-@L/c 音.wav"_s, u"+@L/y.wav"_s,
                       u"~@L/sub/d.wav"_s}
        << QStringList() << false << u"1\t@L/a 'é'.wav\n2\t@L/b_%.wav\n3\t@L/c 音.wav\n"_s
        << u"Nothing was changed: more than half of the files under @L are gone, so it looks "
           "unplugged. Connect it and rescan again. 3 files are gone (kept in the catalogue).\n"_s
        << 1 << QList<qint64>{} << 0;
}

void UpkeepTest::rescan() {
    QFETCH(QStringList, ops);
    QFETCH(QStringList, arguments);
    QFETCH(bool, offline);
    QFETCH(QString, out);
    QFETCH(QString, said);
    QFETCH(int, code);
    QFETCH(QList<qint64>, reread);
    QFETCH(int, added);
    namespace store = kalvero::store;
    QTemporaryDir tree;
    auto at = [&tree](QString text) {
        return text.replace(u"@L"_s, u"@/lib 'q' \"d\" 100%_x é 音"_s)
            .replace(u"@O"_s, u"@/other"_s)
            .replace(u'@', tree.path());
    };
    const QStringList files{u"@L/a 'é'.wav"_s, u"@L/b_%.wav"_s, u"@L/c 音.wav"_s, u"@L/sub/d.wav"_s,
                            u"@O/o.wav"_s};
    for (int n = 0; n < files.size(); ++n) {
        QVERIFY(QDir().mkpath(QFileInfo(at(files[n])).path()));
        QVERIFY(writeTone(at(files[n]), n));
    }
    TempProgramFolder program;
    QCOMPARE(runCli(program, {u"import"_s, at(u"@L"_s), at(u"@O"_s)}).code, 0);
    if (offline) program.insertRows({{0, u"n"_s, at(u"@/media/you/Drive/x.wav"_s), {}, {}}});
    const reconcile::ScopedVolumes volumes(volumesIn(tree.path(), {at(u"@L"_s), at(u"@O"_s)}));
    {
        // The user's texts, and facts that only a read of the file would put right.
        store::Connection connection =
            store::openCatalogueFile(program.cataloguePath(), SQLITE_OPEN_READWRITE);
        store::Transaction transaction(connection);
        connection.exec("update SoundData set NameData = 'kept ''n'' %', Category = '_'");
        store::FactsUpdater updater(connection, {store::Fact::Frames, store::Fact::AudioHash});
        store::FactValues values;
        values[store::Fact::Frames] = u"999"_s;
        values[store::Fact::AudioHash] = u"cafe"_s;
        for (qint64 id = 1; id <= files.size(); ++id) updater.write(id, values);
        transaction.commit();
    }
    for (const QString& op : ops) {
        const QString path = at(op.mid(1));
        const QDateTime time = QFileInfo(path).lastModified();
        if (op.startsWith(u'+')) QVERIFY(writeTone(path, 9));
        if (op.startsWith(u'-')) QVERIFY(QFile::remove(path));
        if (op.startsWith(u'~')) QVERIFY(writeTone(path, 9, nullptr, 6000));
        if (op.startsWith(u'0')) QVERIFY(QFile::setPermissions(path, {}));
        QFile file(path);
        if (op.startsWith(u'='))
            QVERIFY(writeTone(path, 9) && file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(time.addSecs(60), QFileDevice::FileModificationTime));
    }

    QStringList command{u"rescan"_s};
    for (const QString& argument : arguments) command << at(argument);
    const CliRun run = runCli(program, command);
    QCOMPARE(run.out, at(out));
    QCOMPARE(run.err, at(said));
    QCOMPARE(run.code, code);
    const QList<Entry> entries = program.readEntries();
    QCOMPARE(entries.size(), files.size() + (offline ? 1 : 0) + added);
    store::Connection reader =
        store::openCatalogueFile(program.cataloguePath(), SQLITE_OPEN_READONLY);
    for (qint64 id = 1; id <= files.size(); ++id) {
        QCOMPARE(entries[id - 1].name, u"kept 'n' %"_s);
        const store::FactValues facts = store::readFacts(reader, id).value();
        QCOMPARE(facts[store::Fact::AudioHash], u"cafe"_s);
        QCOMPARE(facts[store::Fact::Frames] != u"999"_s, reread.contains(id));
    }
    for (qsizetype i = files.size() + (offline ? 1 : 0); i < entries.size(); ++i)
        QCOMPARE(store::readFacts(reader, entries[i].id).value()[store::Fact::Frames], u"12000"_s);
}

void UpkeepTest::mountTable() {
    const QByteArray table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/you/SFX\\040Drive rw,nosuid shared:5 - exfat /dev/sdb1 rw\n"
        "41 22 8:18 / /mnt/tab\\011and\\134slash rw - vfat /dev/sdb2 rw\n"
        "broken line\n\n";
    QCOMPARE(reconcile::parseMountInfo(table),
             (QSet<QByteArray>{"/", "/media/you/SFX Drive", "/mnt/tab\tand\\slash"}));
}

void UpkeepTest::unpluggedDriveToolTip() {
    QTemporaryDir tree;
    const QString present = tree.filePath(u"here 'ü'.wav"_s);
    QVERIFY(QFile(present).open(QIODevice::WriteOnly));
    const QString drive = tree.filePath(u"media/you/SFX-Drive"_s);
    const reconcile::ScopedVolumes volumes(volumesIn(tree.path(), {}));
    QStandardItemModel model(0, 3);
    for (const QString& path :
         {present, tree.filePath(u"gone 100%.wav"_s), drive + u"/a \"q\" 音.wav"_s})
        model.appendRow(
            {new QStandardItem(u"1"_s), new QStandardItem(u"n"_s), new QStandardItem(path)});
    QTreeView view;
    view.setModel(&model);
    auto* delegate = new kalvero::window::MissingFileDelegate(&view);
    view.setItemDelegate(delegate);
    QTRY_VERIFY(delegate->isMissing(model.index(1, 0)) && delegate->isMissing(model.index(2, 0)));
    QCOMPARE(delegate->missingToolTip(model.index(0, 1)), QString());
    QCOMPARE(delegate->missingToolTip(model.index(1, 1)), u"File not found"_s);
    QCOMPARE(delegate->missingToolTip(model.index(2, 1)), u"Drive not connected: "_s + drive);
}

QTEST_MAIN(UpkeepTest)
#include "tst_upkeep.moc"
