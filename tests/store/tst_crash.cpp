// Adds killed at random moments. A child process (this same binary, started
// with --add-until-killed) adds entries one by one the way the window does,
// reporting each add once it has returned; the test kills it with SIGKILL at
// moments drawn from a fixed seed. After every kill the catalogue must open
// with the key, pass the engine's integrity check and hold every reported
// entry whole, in order, and nothing else but possibly the one add that was
// committing when the kill came.

#include "store/catalogue.h"
#include "store/statements.h"
#include "testsupport.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <chrono>
#include <thread>

using namespace kalvero::store;
using kalvero::test::Entry;
using kalvero::test::TempProgramFolder;

namespace {

constexpr char kWriterFlag[] = "--add-until-killed";
// Text in every entry; it must never be readable in the file or its journal.
constexpr char kMarker[] = "KillMarker7q";

// The entry that run `run` adds as its `seq`-th, a pure function of both so
// that the checks can rebuild it. Every fourth entry is long enough to spill
// over several pages, so that kills also land in multi-page writes.
Entry expectedEntry(int run, int seq) {
    Entry e;
    e.name = QStringLiteral("O'%1 %2-%3").arg(QLatin1String(kMarker)).arg(run).arg(seq);
    e.file = QStringLiteral("/sounds/run %1/take;-- %2.wav").arg(run).arg(seq);
    e.category = seq % 3 == 0 ? QString(QLatin1String("")) : QStringLiteral("100% 'quoted'");
    e.description =
        seq % 4 == 0
            ? QStringLiteral("%1 long %2/%3 ").arg(QLatin1String(kMarker)).arg(run).arg(seq) +
                  QString(40000 + seq % 7 * 1000, QChar(u'a' + seq % 26))
            : QStringLiteral("short %1").arg(seq);
    return e;
}

// The child's side: adds until killed; every line on stdout names one add
// that has returned.
int addUntilKilled(const QString& folder, int run) {
    Catalogue catalogue(folder);
    for (int seq = 0; seq < 1000000; ++seq) {
        const Entry e = expectedEntry(run, seq);
        try {
            catalogue.begin();
            catalogue.run(buildInsert(e.name, e.file, e.category, e.description));
            catalogue.end();
        } catch (const DbError& error) {
            const QByteArray why = "add failed: " + error.message().toUtf8() + '\n';
            [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, why.constData(), why.size());
            return 2;
        }
        // One write(2) per line: nothing is held in a buffer when the kill comes.
        const QByteArray line = "added " + QByteArray::number(seq) + '\n';
        if (::write(STDOUT_FILENO, line.constData(), static_cast<size_t>(line.size())) !=
            line.size())
            return 3;
    }
    return 0;
}

// How many adds the child reported as returned: the number of whole lines.
int reportedAdds(const QByteArray& output) {
    int count = 0;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("added ")) continue;
        if (line.mid(6).toInt() != count) return -1;  // out of order: the child misbehaved
        ++count;
    }
    return count;
}

struct KillOutcome {
    int reported = 0;
    bool journalLeft = false;
};

class Writer {
public:
    Writer(const QString& folder, int run) {
        process_.setProgram(QCoreApplication::applicationFilePath());
        process_.setArguments({QString::fromLatin1(kWriterFlag), folder, QString::number(run)});
        process_.start();
    }
    ~Writer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    QProcess& process() { return process_; }

private:
    QProcess process_;
};

}  // namespace

class CrashTest : public QObject {
    Q_OBJECT
private slots:
    void killedWhileAdding();
    void killedWhileCreating();
    void crashLeftCreationHalfDone();

private:
    // Starts a writer and kills it `delayUs` after its first report (or after
    // its start, with `afterFirstAdd` false); `startUs` gets the time from the
    // start to the first report when one was waited for. Then checks the
    // catalogue through `program`, and appends to `expected` what it must hold.
    KillOutcome killOnce(const TempProgramFolder& folder, Catalogue& program, int run,
                         bool afterFirstAdd, qint64 delayUs, QList<Entry>& expected,
                         qint64* startUs = nullptr);
    void checkCatalogue(Catalogue& program, QList<Entry>& expected, int run, int reported);
};

KillOutcome CrashTest::killOnce(const TempProgramFolder& folder, Catalogue& program, int run,
                                bool afterFirstAdd, qint64 delayUs, QList<Entry>& expected,
                                qint64* startUs) {
    KillOutcome outcome;
    QElapsedTimer clock;
    clock.start();
    Writer writer(folder.path(), run);
    QProcess& child = writer.process();
    if (!child.waitForStarted()) {
        QTest::qFail("the writer did not start", __FILE__, __LINE__);
        return outcome;
    }
    if (afterFirstAdd) {
        QDeadlineTimer deadline(60000);
        while (!child.peek(64).contains('\n') && !deadline.hasExpired() &&
               child.state() == QProcess::Running)
            child.waitForReadyRead(100);
        if (!child.peek(64).contains('\n')) {
            QTest::qFail(qPrintable(QStringLiteral("the writer reported no add: ") +
                                    QString::fromUtf8(child.readAllStandardError())),
                         __FILE__, __LINE__);
            return outcome;
        }
        if (startUs) *startUs = clock.nsecsElapsed() / 1000;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    child.kill();
    child.waitForFinished();
    if (child.exitStatus() != QProcess::CrashExit) {
        QTest::qFail(qPrintable(QStringLiteral("the writer ended before the kill: ") +
                                QString::fromUtf8(child.readAllStandardError())),
                     __FILE__, __LINE__);
        return outcome;
    }
    outcome.reported = reportedAdds(child.readAllStandardOutput());
    if (outcome.reported < 0) {
        QTest::qFail("the writer's reports are out of order", __FILE__, __LINE__);
        return outcome;
    }

    // A journal left behind by the kill is encrypted like the file itself.
    QFile journal(folder.cataloguePath() + QStringLiteral("-journal"));
    if (journal.exists() && journal.size() > 0) {
        outcome.journalLeft = true;
        if (!journal.open(QIODevice::ReadOnly)) {
            QTest::qFail("the journal cannot be read", __FILE__, __LINE__);
            return outcome;
        }
        if (journal.readAll().contains(kMarker)) {
            QTest::qFail("the journal holds readable entry text", __FILE__, __LINE__);
            return outcome;
        }
    }
    // Nothing else is left in the program folder.
    for (const QString& name :
         QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (name != QLatin1String("Kalverodb.mdb") &&
            name != QLatin1String("Kalverodb.mdb-journal")) {
            QTest::qFail(qPrintable(QStringLiteral("left in the folder: ") + name), __FILE__,
                         __LINE__);
            return outcome;
        }
    }
    checkCatalogue(program, expected, run, outcome.reported);
    return outcome;
}

void CrashTest::checkCatalogue(Catalogue& program, QList<Entry>& expected, int run, int reported) {
    // The program opens the file after the crash, which finishes or undoes
    // what the killed add left in its journal; then the engine checks every
    // page and the rows are read back.
    QStringList problems;
    QList<Entry> stored;
    try {
        program.begin();
        Statement check = program.query(QStringLiteral("PRAGMA integrity_check"));
        while (check.step()) problems << QString::fromUtf8(check.textBytes(0));
        Statement rows = program.query(
            QStringLiteral("select ID, NameData, FilePath, Category, DescriptionData from "
                           "SoundData order by ID"));
        while (rows.step()) {
            auto read = [&rows](int i) {
                return rows.isNull(i) ? QString() : QString::fromUtf8(rows.textBytes(i));
            };
            stored.append({rows.textBytes(0).toLongLong(), read(1), read(2), read(3), read(4)});
        }
        program.end();
    } catch (const DbError& error) {
        program.end();
        QFAIL(qPrintable(QStringLiteral("run %1: the catalogue does not open after the kill: %2")
                             .arg(run)
                             .arg(error.message())));
    }
    QCOMPARE(problems, QStringList{QStringLiteral("ok")});

    // Every reported add is there, whole and in order, and at most the one
    // that was committing besides.
    for (int seq = 0; seq < reported; ++seq) expected.append(expectedEntry(run, seq));
    if (stored.size() == expected.size() + 1) expected.append(expectedEntry(run, reported));
    QCOMPARE(stored.size(), expected.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        expected[i].id = i + 1;  // nothing rolled back leaves a gap in the numbering
        if (!(stored[i] == expected[i]))
            QFAIL(qPrintable(QStringLiteral("run %1: entry %2 is %3, expected %4")
                                 .arg(run)
                                 .arg(i + 1)
                                 .arg(stored[i].name.left(60), expected[i].name.left(60))));
    }
}

void CrashTest::killedWhileAdding() {
    constexpr int kKills = 60;
    TempProgramFolder folder;
    folder.createCatalogue();
    // One program opens the file after every kill, as a restarted one would.
    Catalogue program(folder.path());
    QList<Entry> expected;
    QRandomGenerator random(0x4b696c6c);
    qint64 startUs = 0;
    int journals = 0;
    int adds = 0;
    for (int run = 0; run < kKills; ++run) {
        // Most kills come while adds run; every fifth any time between the
        // writer's start and its first add, as it opens the file.
        const bool afterFirstAdd = run % 5 != 0 || startUs == 0;
        const qint64 delayUs = afterFirstAdd ? random.bounded(60000) : random.bounded(startUs + 1);
        const KillOutcome outcome =
            killOnce(folder, program, run, afterFirstAdd, delayUs, expected, &startUs);
        if (QTest::currentTestFailed()) return;
        journals += outcome.journalLeft ? 1 : 0;
        adds += outcome.reported;
    }
    // Another tool with the passphrase reads the same.
    QCOMPARE(folder.readEntries(), expected);
    qInfo("%d kills survived, %d adds reported, %d kills left a journal behind", kKills, adds,
          journals);
}

void CrashTest::killedWhileCreating() {
    // Kills anywhere between a writer's start and its first add on a missing
    // file, while it creates the catalogue.
    qint64 startUs = 0;
    {
        TempProgramFolder folder;
        Catalogue program(folder.path());
        QList<Entry> expected;
        killOnce(folder, program, 0, true, 0, expected, &startUs);
        if (QTest::currentTestFailed()) return;
    }
    constexpr int kKills = 12;
    QRandomGenerator random(0x43726561);
    for (int run = 0; run < kKills; ++run) {
        TempProgramFolder folder;  // no catalogue yet: the writer creates it
        Catalogue program(folder.path());
        QList<Entry> expected;
        killOnce(folder, program, run, false, random.bounded(startUs + 1), expected);
        if (QTest::currentTestFailed()) return;
    }
}

void CrashTest::crashLeftCreationHalfDone() {
    // A program killed while it creates a new catalogue, after the first pages
    // reached the file but before its journal was removed, leaves pages behind
    // and a journal that undoes all of them. Made here without a kill: the
    // creating transaction spills pages to the file, and both files are copied
    // as a crash at that moment would leave them.
    TempProgramFolder creating;
    TempProgramFolder crashed;
    {
        Connection c =
            openCatalogueFile(creating.cataloguePath(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        c.exec("PRAGMA cache_size = 2");
        c.exec("BEGIN");
        c.exec(
            "CREATE TABLE SoundData (ID INTEGER PRIMARY KEY AUTOINCREMENT, NameData TEXT, "
            "FilePath TEXT, Category TEXT, DescriptionData TEXT)");
        for (int i = 0; i < 20; ++i)
            c.exec("INSERT INTO SoundData (FilePath, DescriptionData) VALUES ('f', '" +
                   QByteArray(20000, 'x') + "')");
        const QString journal = creating.cataloguePath() + QStringLiteral("-journal");
        QVERIFY(QFileInfo(creating.cataloguePath()).size() > 0);
        QVERIFY(QFileInfo(journal).size() > 0);
        QVERIFY(QFile::copy(creating.cataloguePath(), crashed.cataloguePath()));
        QVERIFY(QFile::copy(journal, crashed.cataloguePath() + QStringLiteral("-journal")));
        c.exec("ROLLBACK");
    }

    // The next start finds a catalogue it can use at once, empty, and what it
    // adds opens with the passphrase afterwards.
    Catalogue catalogue(crashed.path());
    try {
        catalogue.begin();
        Statement rows = catalogue.query(QStringLiteral("select count(*) from Sounddata"));
        QVERIFY(rows.step());
        QCOMPARE(rows.textBytes(0), QByteArray("0"));
    } catch (const DbError& error) {
        QFAIL(qPrintable(QStringLiteral("the first operation failed: ") + error.message()));
    }
    catalogue.end();
    const Entry e = expectedEntry(0, 0);
    catalogue.begin();
    catalogue.run(buildInsert(e.name, e.file, e.category, e.description));
    catalogue.end();
    const QList<Entry> stored = crashed.readEntries();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().name, e.name);
}

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], kWriterFlag) == 0)
        return addUntilKilled(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    QCoreApplication app(argc, argv);
    CrashTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash.moc"
