// The catalogue file going wrong under the running window: the wrong key, a
// file that is not a catalogue, a truncated or damaged file, another program
// holding a write transaction, a read-only file or folder, a disk that fills
// up, the file deleted between operations. Each must give one message in
// plain words, keep the window working, lose or change no stored entry, and
// let the same operation succeed once the fault is gone. Then the key: no
// entry text readable in the file, and neither entry text nor the key in any
// other file the program could write, or in its log.

#include "testsupport.h"
#include "window/listview1.h"

#include <sys/mount.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <map>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

namespace {

const char* const kKey = "4862vemo";

QLineEdit* box(const window::Form1& form, const char* name) {
    auto* edit = form.findChild<QLineEdit*>(QString::fromLatin1(name));
    Q_ASSERT(edit);
    return edit;
}

QStringList panelTexts(const window::Form1& form) {
    return {box(form, "Text1")->text(), box(form, "Text2")->text(), box(form, "Text3")->text(),
            box(form, "Text4")->text()};
}

void setPanel(window::Form1& form, const QStringList& texts) {
    const char* names[] = {"Text1", "Text2", "Text3", "Text4"};
    for (int k = 0; k < 4; ++k) box(form, names[k])->setText(texts.value(k));
}

QList<qint64> idsOf(const QList<Entry>& entries) {
    QList<qint64> ids;
    for (const Entry& e : entries) ids << e.id;
    return ids;
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The catalogue as another tool with the passphrase finds it: the engine's
// check of every page ("ok" when sound) and all rows in ID order, through one
// connection, since every open derives the key anew. It opens the file for
// writing, as the program does, so that a journal left by a failed write is
// played back first.
struct Stored {
    QString integrity;
    QList<Entry> entries;
};

Stored stored(const TempProgramFolder& folder) {
    Stored out;
    store::Connection c = store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    QStringList problems;
    store::Statement check(c, "PRAGMA integrity_check");
    while (check.step()) problems << QString::fromUtf8(check.textBytes(0));
    out.integrity = problems.join(QLatin1Char('\n'));
    store::Statement rows(
        c, "select ID, NameData, FilePath, Category, DescriptionData from SoundData order by ID");
    while (rows.step()) {
        auto read = [&rows](int i) {
            return rows.isNull(i) ? QString() : QString::fromUtf8(rows.textBytes(i));
        };
        out.entries.append({rows.textBytes(0).toLongLong(), read(1), read(2), read(3), read(4)});
    }
    return out;
}

// Hostile entries the faults must leave exactly as they are, then enough
// plain ones to fill many pages, so that cutting the file loses some.
QList<Entry> startingEntries() {
    QList<Entry> rows{
        {0, QStringLiteral("O'Neil's ''bell''"), QStringLiteral("/s/bell;--.wav"),
         QStringLiteral("100% _x_"), QStringLiteral("\"quoted\"\\")},
        {0, QStringLiteral("Кот 🐈"), QStringLiteral("/s/Кот.flac"), QString(), QStringLiteral("")},
        {0, QStringLiteral("") + QChar(0x202E) + QStringLiteral("lmth.exe"),
         QStringLiteral("C:\\S\\x.wav"), QStringLiteral("e\u0301"),
         QStringLiteral("drop table SoundData;")}};
    for (int i = 0; i < 1500; ++i)
        rows.append({0, QStringLiteral("filler %1").arg(i), QStringLiteral("/f/%1.wav").arg(i),
                     QStringLiteral("Filler"), QString(100, QChar(u'a' + i % 26))});
    return rows;
}

// Sets `attribute` (+i or -i) on a path; false when the file system has no such attribute.
bool chattr(const char* attribute, const QString& path) {
    QProcess p;
    p.start(QStringLiteral("chattr"), {QString::fromLatin1(attribute), path});
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// One fault of the catalogue file, undone when it goes out of scope, so that
// a failed check leaves no immutable file, mount or lock behind.
class Fault {
public:
    Fault(QString kind, const TempProgramFolder& folder)
        : kind_(std::move(kind)), folder_(folder) {}
    ~Fault() {
        remove();
        if (mounted_) ::umount2(qPrintable(folder_.path()), MNT_DETACH);
    }
    Fault(const Fault&) = delete;
    Fault& operator=(const Fault&) = delete;

    bool is(const char* kind) const { return kind_ == QLatin1String(kind); }

    // Before the catalogue exists: the disk faults put the program folder on
    // a small file system of its own. An empty result means ready; otherwise
    // the reason the fault cannot be made here.
    QString prepare() {
        if (!is("disk full") && !is("disk nearly full")) return {};
        if (::mount("kalvero-test", qPrintable(folder_.path()), "tmpfs", 0, "size=6m") != 0)
            return QStringLiteral("cannot mount a small tmpfs: ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        mounted_ = true;
        return {};
    }

    // Makes the fault; an empty result means it is in place.
    QString apply() {
        const QString file = folder_.cataloguePath();
        original_ = readBytes(file);
        if (is("wrong key")) {
            QFile::remove(file);
            sqlite3* db = nullptr;
            sqlite3_open(qPrintable(file), &db);
            sqlite3_key(db, "another password", 16);
            sqlite3_exec(db, "PRAGMA cipher_page_size = 16384", nullptr, nullptr, nullptr);
            const int rc = sqlite3_exec(db,
                                        "create table SoundData(ID integer primary key, "
                                        "NameData, FilePath, Category, DescriptionData);"
                                        "insert into SoundData(FilePath) values ('theirs');",
                                        nullptr, nullptr, nullptr);
            sqlite3_close(db);
            if (rc != SQLITE_OK) return QStringLiteral("could not make a file with another key");
        } else if (is("not a catalogue")) {
            QByteArray garbage(64 * 1024, '\0');
            QRandomGenerator random(8);
            random.fillRange(reinterpret_cast<quint32*>(garbage.data()),
                             garbage.size() / qsizetype(sizeof(quint32)));
            if (!writeBytes(file, garbage)) return QStringLiteral("cannot write");
        } else if (is("truncated")) {
            if (!QFile::resize(file, original_.size() / 2)) return QStringLiteral("cannot resize");
        } else if (is("damaged")) {
            // Scribble over 64 bytes in the middle of the last page.
            QByteArray bytes = original_;
            const qsizetype page = store::Catalogue::kCipherPageSize;
            const qsizetype at = bytes.size() - page / 2;
            for (qsizetype i = at; i < at + 64; ++i) bytes[i] = char(bytes[i] ^ 0x5a);
            if (!writeBytes(file, bytes)) return QStringLiteral("cannot write");
        } else if (is("locked")) {
            if (QString why = lockInAnotherProcess(); !why.isEmpty()) return why;
        } else if (is("read-only file")) {
            if (!chattr("+i", file)) return QStringLiteral("chattr +i is not supported here");
            immutable_ = file;
        } else if (is("read-only folder")) {
            if (!chattr("+i", folder_.path()))
                return QStringLiteral("chattr +i is not supported here");
            immutable_ = folder_.path();
        } else if (is("read-only folder, no file")) {
            QFile::remove(file);
            if (!chattr("+i", folder_.path()))
                return QStringLiteral("chattr +i is not supported here");
            immutable_ = folder_.path();
        } else if (is("disk full") || is("disk nearly full")) {
            if (QString why = fillDisk(is("disk full") ? 0 : 256 * 1024); !why.isEmpty())
                return why;
        }
        faulty_ = readBytes(file);
        return {};
    }

    // The bytes of the file while the fault holds.
    const QByteArray& faultyBytes() const { return faulty_; }

    void remove() {
        if (!immutable_.isEmpty()) {
            chattr("-i", immutable_);
            immutable_.clear();
        }
        if (shell_) {
            shell_->write("ROLLBACK;\n.quit\n");
            shell_->closeWriteChannel();
            if (!shell_->waitForFinished()) shell_->kill();
            shellErrors_ = QString::fromUtf8(shell_->readAllStandardError());
            shell_.reset();
        }
        if (!filler_.isEmpty()) {
            QFile::remove(filler_);
            filler_.clear();
        }
        // The faults that replaced the file's bytes: the user puts back a good copy.
        if (is("wrong key") || is("not a catalogue") || is("truncated") || is("damaged")) {
            if (!original_.isEmpty() && readBytes(folder_.cataloguePath()) != original_)
                writeBytes(folder_.cataloguePath(), original_);
        }
    }

    // What the other program complained about, once it has ended.
    const QString& shellErrors() const { return shellErrors_; }

private:
    // The engine's own shell, as a second process, keyed like the program,
    // with a write transaction open and an uncommitted row in it.
    QString lockInAnotherProcess() {
        shell_ = std::make_unique<QProcess>();
        shell_->start(QStringLiteral("sqlcipher"), {folder_.cataloguePath()});
        if (!shell_->waitForStarted()) {
            shell_.reset();
            return QStringLiteral("the sqlcipher shell is not installed");
        }
        shell_->write(QByteArrayLiteral("PRAGMA key = '") + kKey +
                      "';\nPRAGMA cipher_compatibility = 3;\nPRAGMA cipher_page_size = " +
                      QByteArray::number(store::Catalogue::kCipherPageSize) +
                      ";\nBEGIN EXCLUSIVE;\n"
                      "INSERT INTO SoundData (FilePath) VALUES ('uncommitted');\n"
                      "SELECT 'locked', count(*) FROM SoundData;\n");
        QByteArray out;
        QDeadlineTimer deadline(20000);
        // SQLCipher 4's shell answers the key with a line "ok" first.
        while (!out.contains("locked|") && !deadline.hasExpired() &&
               shell_->state() == QProcess::Running) {
            shell_->waitForReadyRead(100);
            out += shell_->readAllStandardOutput();
        }
        // It counted the rows through the key: the transaction is real.
        if (!out.contains("locked|"))
            return QStringLiteral("the shell holds no lock: ") +
                   QString::fromUtf8(out + shell_->readAllStandardError());
        return {};
    }

    // Fills the folder's file system until `leave` bytes remain.
    QString fillDisk(qint64 leave) {
        filler_ = QDir(folder_.path()).filePath(QStringLiteral("filler"));
        QFile filler(filler_);
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return QStringLiteral("cannot create the filler");
        const QByteArray chunk(64 * 1024, 'f');
        while (filler.write(chunk) == chunk.size()) {
        }
        filler.close();
        if (leave > 0 && !QFile::resize(filler_, qMax<qint64>(0, filler.size() - leave)))
            return QStringLiteral("cannot shrink the filler");
        return {};
    }

    QString kind_;
    const TempProgramFolder& folder_;
    QByteArray original_;
    QByteArray faulty_;
    QString immutable_;
    std::unique_ptr<QProcess> shell_;
    QString shellErrors_;
    QString filler_;
    bool mounted_ = false;
};

// Every file below `root` with its size and change time.
std::map<QString, std::pair<qint64, QDateTime>> listing(const QString& root,
                                                        const QString& skip = {}) {
    std::map<QString, std::pair<qint64, QDateTime>> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skip.isEmpty() && path.startsWith(skip)) continue;
        const QFileInfo info = it.fileInfo();
        files[path] = {info.size(), info.lastModified()};
    }
    return files;
}

// The files of `after` that are new or changed since `before`.
QStringList changedFiles(const std::map<QString, std::pair<qint64, QDateTime>>& before,
                         const std::map<QString, std::pair<qint64, QDateTime>>& after) {
    QStringList out;
    for (const auto& [path, stamp] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second != stamp) out << path;
    }
    return out;
}

// The forms a text may take in a file: UTF-8 and UTF-16 in both byte orders.
QList<QByteArray> encodings(const QString& text) {
    QByteArray le(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    QByteArray be = le;
    for (qsizetype i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    return {text.toUtf8(), le, be};
}

// Which of `files` hold any of `needles` in any encoding.
QStringList filesHolding(const QStringList& files, const QStringList& needles) {
    QStringList hits;
    for (const QString& path : files) {
        QFile file(path);
        if (file.size() > 64 * 1024 * 1024 || !file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.readAll();
        for (const QString& needle : needles)
            for (const QByteArray& form : encodings(needle))
                if (bytes.contains(form)) hits << path + QStringLiteral(" holds ") + needle;
    }
    return hits;
}

// Files the process has open under places where temporary files go, other
// than the catalogue and its journal.
QStringList openTemporaryFiles(const QString& programFolder, const QStringList& tempRoots) {
    QStringList out;
    const QString catalogue = QDir(programFolder).filePath(QStringLiteral("Kalverodb.mdb"));
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char buffer[4096];
        const ssize_t n =
            ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), buffer, sizeof buffer);
        if (n <= 0) continue;
        const QString target = QFile::decodeName(QByteArray(buffer, n));
        if (!target.startsWith(QLatin1Char('/')) || target.startsWith(QLatin1String("/memfd:")) ||
            target == catalogue || target == catalogue + QStringLiteral("-journal"))
            continue;
        const bool underTemp = std::any_of(tempRoots.begin(), tempRoots.end(),
                                           [&](const QString& r) { return target.startsWith(r); });
        if (underTemp || target.startsWith(programFolder) ||
            target.endsWith(QLatin1String(" (deleted)")))
            out << target;
    }
    return out;
}

QStringList* g_log = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_log) g_log->append(text);
    if (g_previousHandler) g_previousHandler(type, context, text);
}

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { settings_ = std::make_unique<test::IsolatedSettings>(); }
    void cleanup() { settings_.reset(); }

    void faultOfTheFile_data();
    void faultOfTheFile();
    void startsInReadOnlyFolder();
    void fileDeletedWhileRunning_data();
    void fileDeletedWhileRunning();
    void entryTextNeverReadableInTheFile();
    void nothingWrittenBesideTheCatalogue();

private:
    std::unique_ptr<test::IsolatedSettings> settings_;
    // The program's temporary files go here, so that they can be told from
    // those of other processes.
    std::unique_ptr<QTemporaryDir> privateTemp_;
    QByteArray oldTmpdir_;
};

void FaultsTest::initTestCase() {
    privateTemp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(privateTemp_->isValid());
    oldTmpdir_ = qgetenv("TMPDIR");
    // Before the engine's first use: it takes its temporary folder from here.
    qputenv("TMPDIR", QFile::encodeName(privateTemp_->path()));
    QCOMPARE(QDir::tempPath(), privateTemp_->path());
}

void FaultsTest::cleanupTestCase() {
    if (oldTmpdir_.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmpdir_);
    privateTemp_.reset();
}

void FaultsTest::faultOfTheFile_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("operation");
    // Plain words the message must hold; empty when the operation is not hurt
    // by the fault and must simply work.
    QTest::addColumn<QString>("cause");
    struct Row {
        const char* fault;
        const char* add;
        const char* remove;
        const char* reload;
    };
    const Row rows[] = {
        {"wrong key", "not a Kalvero catalogue", "not a Kalvero catalogue",
         "not a Kalvero catalogue"},
        {"not a catalogue", "not a Kalvero catalogue", "not a Kalvero catalogue",
         "not a Kalvero catalogue"},
        {"truncated", "damaged", "damaged", "damaged"},
        {"damaged", "damaged", "damaged", "damaged"},
        {"locked", "Another program", "Another program", "Another program"},
        {"read-only file", "read-only", "read-only", ""},
        {"read-only folder", "read and write", "read and write", ""},
        {"read-only folder, no file", "no longer there", nullptr, "no longer there"},
        {"disk nearly full", "disk is full", "", ""},
        {"disk full", "disk is full", "disk is full", ""},
    };
    for (const Row& row : rows) {
        const std::pair<const char*, const char*> operations[] = {
            {"add", row.add}, {"delete", row.remove}, {"reload", row.reload}};
        for (const auto& [operation, cause] : operations) {
            if (!cause) continue;
            QTest::addRow("%s, %s", row.fault, operation)
                << QString::fromLatin1(row.fault) << QString::fromLatin1(operation)
                << QString::fromLatin1(cause);
        }
    }
}

void FaultsTest::faultOfTheFile() {
    QFETCH(QString, fault);
    QFETCH(QString, operation);
    QFETCH(QString, cause);
    const bool add = operation == QLatin1String("add");
    const bool remove = operation == QLatin1String("delete");

    TempProgramFolder folder;
    Fault scene(fault, folder);
    if (const QString why = scene.prepare(); !why.isEmpty()) QSKIP(qPrintable(why));
    const bool noFile = scene.is("read-only folder, no file");
    folder.createCatalogue(noFile ? QList<Entry>{} : startingEntries());
    const Stored initially = stored(folder);
    QCOMPARE(initially.integrity, QStringLiteral("ok"));
    const QList<Entry> before = initially.entries;

    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QVERIFY(dialogs->messages.isEmpty());
    QCOMPARE(test::listedIds(*form), idsOf(before));

    // What the user had typed; on a nearly full disk, long enough to need
    // more pages than are left.
    const QStringList panel{
        QStringLiteral("Rain's 'end'"), QStringLiteral("/s/rain;--.wav"), QStringLiteral("Weather"),
        QStringLiteral("drops ") +
            QString(scene.is("disk nearly full") ? 3 * 1024 * 1024 : 100, QLatin1Char('r'))};
    setPanel(*form, panel);
    const int last = form->list()->count();
    if (remove) {
        form->list()->selectItem(last);
        form->ListView1_MouseDown(Qt::LeftButton);
    }
    const QList<qint64> listed = test::listedIds(*form);

    if (const QString why = scene.apply(); !why.isEmpty()) {
        if (why.contains(QLatin1String("not supported")) ||
            why.contains(QLatin1String("not installed")))
            QSKIP(qPrintable(why));
        QFAIL(qPrintable(why));
    }

    auto runOperation = [&] {
        if (add) {
            form->Command1_Click();
        } else if (remove) {
            dialogs->answers.push_back(QMessageBox::Yes);
            form->DeleteMenu_Click();
        } else {
            form->SearchData1(1);
        }
    };
    // What the catalogue holds once the operation has done its work.
    QList<Entry> after = before;
    auto expectDone = [&] {
        if (add) {
            Entry added{0, panel[0], panel[1], panel[2], panel[3]};
            added.id = (before.isEmpty() ? 0 : before.last().id) + 1;
            after.append(added);
        } else if (remove) {
            after.removeLast();
        }
    };

    const qsizetype shown = dialogs->messages.size();
    runOperation();
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    const qsizetype confirmations = remove ? 1 : 0;
    if (cause.isEmpty()) {
        // The fault does not touch this operation: it simply works.
        QCOMPARE(dialogs->messages.size(), shown + confirmations);
        expectDone();
    } else {
        QCOMPARE(dialogs->messages.size(), shown + confirmations + 1);
        const ScriptedDialogs::Message& m = dialogs->messages.last();
        QCOMPARE(m.title, QStringLiteral("Kalvero 2.1"));
        QVERIFY2(m.text.contains(QDir::toNativeSeparators(folder.cataloguePath())),
                 qPrintable(m.text));
        QVERIFY2(m.text.contains(cause), qPrintable(m.text));
        QCOMPARE(m.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        if (add) QCOMPARE(panelTexts(*form), panel);  // what was typed is kept
        const QList<qint64> nowListed = test::listedIds(*form);
        if (remove || add)
            QCOMPARE(nowListed, listed);
        else  // a failed reload shows the rows it could read, and no others
            QCOMPARE(nowListed, listed.mid(0, nowListed.size()));
        // Where it could write nothing, the failure wrote nothing. (A full disk
        // lets it write part, which the journal takes back.)
        if (!noFile && !scene.is("disk full") && !scene.is("disk nearly full"))
            QVERIFY(readBytes(folder.cataloguePath()) == scene.faultyBytes());
    }

    scene.remove();
    QVERIFY2(!scene.shellErrors().contains(QLatin1String("rror")), qPrintable(scene.shellErrors()));
    if (!noFile) {
        const Stored now = stored(folder);
        QCOMPARE(now.integrity, QStringLiteral("ok"));
        QCOMPARE(now.entries, after);
    }

    // Once the fault is gone the same operation works. (A catalogue that went
    // away while the window ran stays missing until it is put back, which
    // fileDeletedWhileRunning covers.)
    if (!cause.isEmpty() && !noFile) {
        const qsizetype messages = dialogs->messages.size();
        runOperation();
        QCOMPARE(dialogs->messages.size(), messages + confirmations);
        expectDone();
        const Stored retried = stored(folder);
        QCOMPARE(retried.integrity, QStringLiteral("ok"));
        QCOMPARE(retried.entries, after);
    }
    QCOMPARE(test::listedIds(*form), idsOf(after));
    // A successful add empties the panel; one still refused keeps it.
    if (add) QCOMPARE(panelTexts(*form), noFile ? panel : QStringList(4, QString()));
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
}

void FaultsTest::startsInReadOnlyFolder() {
    TempProgramFolder folder;
    Fault scene(QStringLiteral("read-only folder, no file"), folder);
    if (const QString why = scene.apply(); !why.isEmpty()) QSKIP(qPrintable(why));

    // The catalogue cannot be made: the window still comes up, says why once.
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QCOMPARE(dialogs->messages.size(), 1);
    QVERIFY2(
        dialogs->messages.first().text.contains(QDir::toNativeSeparators(folder.cataloguePath())),
        qPrintable(dialogs->messages.first().text));
    QCOMPARE(form->list()->count(), 0);
    QVERIFY(!QFile::exists(folder.cataloguePath()));

    scene.remove();
    setPanel(*form, {QStringLiteral("first"), QStringLiteral("/s/first.wav")});
    form->Command1_Click();
    QCOMPARE(dialogs->messages.size(), 1);
    const QList<Entry> added = stored(folder).entries;
    QCOMPARE(added.size(), 1);
    QCOMPARE(added.first().name, QStringLiteral("first"));
    QCOMPARE(test::listedIds(*form), idsOf(added));
}

void FaultsTest::fileDeletedWhileRunning_data() {
    QTest::addColumn<QString>("operation");
    QTest::newRow("add") << QStringLiteral("add");
    QTest::newRow("delete") << QStringLiteral("delete");
    QTest::newRow("reload") << QStringLiteral("reload");
}

void FaultsTest::fileDeletedWhileRunning() {
    QFETCH(QString, operation);
    TempProgramFolder folder;
    QList<Entry> entries = startingEntries().mid(0, 20);
    folder.createCatalogue(entries);
    const Stored initially = stored(folder);
    QCOMPARE(initially.integrity, QStringLiteral("ok"));
    const QList<Entry> before = initially.entries;
    const QByteArray original = readBytes(folder.cataloguePath());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QStringList panel{QStringLiteral("late"), QStringLiteral("/s/late.wav"),
                            QStringLiteral("c"), QStringLiteral("d")};
    setPanel(*form, panel);
    form->list()->selectItem(3);
    form->ListView1_MouseDown(Qt::LeftButton);

    // Another program (or the user) deletes the file between two operations.
    QVERIFY(QFile::remove(folder.cataloguePath()));
    if (operation == QLatin1String("add")) {
        form->Command1_Click();
    } else if (operation == QLatin1String("delete")) {
        dialogs->answers.push_back(QMessageBox::Yes);
        form->DeleteMenu_Click();
    } else {
        form->SearchData1(1);
    }
    // The loss is told in plain words naming the file; no new, empty catalogue
    // takes the old one's place, and what the user typed and sees is kept.
    QCOMPARE(dialogs->messages.size(), operation == QLatin1String("delete") ? 2 : 1);
    const ScriptedDialogs::Message& m = dialogs->messages.last();
    QVERIFY2(m.text.contains(QDir::toNativeSeparators(folder.cataloguePath())), qPrintable(m.text));
    QVERIFY2(m.text.contains(QStringLiteral("no longer there")), qPrintable(m.text));
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    QVERIFY(!QFile::exists(folder.cataloguePath()));
    QCOMPARE(panelTexts(*form), panel);
    if (operation == QLatin1String("delete")) QCOMPARE(test::listedIds(*form), idsOf(before));

    // The user puts the file back: the next load shows all of it again and
    // the next add goes into it.
    QVERIFY(writeBytes(folder.cataloguePath(), original));
    QFile::remove(folder.cataloguePath() + QStringLiteral("-journal"));
    const qsizetype messages = dialogs->messages.size();
    form->SearchData1(1);
    QCOMPARE(test::listedIds(*form), idsOf(before));
    setPanel(*form, panel);
    form->Command1_Click();
    QCOMPARE(dialogs->messages.size(), messages);
    const QList<Entry> now = stored(folder).entries;
    QCOMPARE(now.size(), before.size() + 1);
    QCOMPARE(now.mid(0, before.size()), before);
}

void FaultsTest::entryTextNeverReadableInTheFile() {
    TempProgramFolder folder;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QString marker = QStringLiteral("Mk%1qZ").arg(QRandomGenerator::global()->generate());
    const QStringList panel{marker + QStringLiteral(" name Кот"), QStringLiteral("/s/") + marker,
                            marker + QStringLiteral(" cat"),
                            marker + QStringLiteral(" description ") + QString(40000, u'é')};
    for (int i = 0; i < 30; ++i) {
        setPanel(*form, panel);
        form->Command1_Click();
    }
    QVERIFY(dialogs->messages.isEmpty());
    QCOMPARE(folder.countRows(), 30);
    QCOMPARE(form->list()->count(), 30);

    const QByteArray bytes = readBytes(folder.cataloguePath());
    QVERIFY(bytes.size() > 30 * 40000);
    for (const QString& text : {marker, panel[0], QStringLiteral("SoundData"),
                                QString::fromLatin1(kKey), QString(16, u'é')})
        for (const QByteArray& encoded : encodings(text))
            QVERIFY2(!bytes.contains(encoded), qPrintable(text));
    QVERIFY(!bytes.startsWith("SQLite format 3"));
}

void FaultsTest::nothingWrittenBesideTheCatalogue() {
    const QString marker = QStringLiteral("Mk%1qT").arg(QRandomGenerator::global()->generate());
    const QString key = QString::fromLatin1(kKey);
    TempProgramFolder folder;
    // Enough text to be sorted that the engine would spill the sort into a
    // temporary file, were it allowed one.
    QList<Entry> many;
    for (int i = 0; i < 4000; ++i)
        many.append({0, marker + QString::number(i), QStringLiteral("/f/%1.wav").arg(i),
                     QStringLiteral("c"), marker + QString(2000, QChar(u'a' + i % 26))});
    folder.createCatalogue(many);

    const QString systemTemp = QStringLiteral("/tmp");
    const QStringList tempRoots{QDir::tempPath(), systemTemp, QStringLiteral("/var/tmp")};
    const auto tempBefore = listing(QDir::tempPath(), folder.path());
    const auto systemBefore = listing(systemTemp, QDir::tempPath());
    const auto varBefore = listing(QStringLiteral("/var/tmp"));
    const auto settingsBefore = listing(settings_->path());

    QStringList log;
    g_log = &log;
    g_previousHandler = qInstallMessageHandler(recordMessage);
    QStringList openedTemp;
    int probes = 0;
    // What the test runner handed down (its log, say) is not the program's.
    const QStringList inherited = openTemporaryFiles(folder.path(), tempRoots);
    {
        auto dialogs = std::make_shared<ScriptedDialogs>();
        auto form = test::makeForm(folder, dialogs);
        form->setLoadEventInterval(0);
        // While loads run, look at what the process has open.
        QTimer probe;
        probe.setInterval(0);
        connect(&probe, &QTimer::timeout, form.get(), [&] {
            if (!form->isLoading()) return;
            ++probes;
            for (const QString& file : openTemporaryFiles(folder.path(), tempRoots))
                if (!inherited.contains(file)) openedTemp << file;
        });
        probe.start();

        setPanel(*form, {marker + QStringLiteral(" added"), QStringLiteral("/s/") + marker, marker,
                         marker});
        form->Command1_Click();
        form->findChild<QCheckBox*>(QStringLiteral("Check1"))->setChecked(true);
        box(*form, "Text9")->setText(marker.left(5));  // filters as it is typed
        box(*form, "Text5")->setText(marker);
        form->ListView1_ColumnClick(5);  // sorts by the long descriptions
        form->ListView1_ColumnClick(5);
        form->Command7_Click();
        form->list()->selectItem(2);
        form->ListView1_MouseDown(Qt::LeftButton);
        form->EditEntry_Click();
        dialogs->answers.push_back(QMessageBox::Yes);
        form->DeleteMenu_Click();
        form->PlaySoundonDoubleClickM_Click();
        form->ShowSearchBar_Click();
        QVERIFY(dialogs->messages.size() == 1);  // the delete's question alone
        QCOMPARE(folder.countRows(), 4000);
    }
    qInstallMessageHandler(g_previousHandler);
    g_log = nullptr;

    QVERIFY(probes > 0);
    openedTemp.removeDuplicates();
    QVERIFY2(openedTemp.isEmpty(), qPrintable(openedTemp.join(QLatin1Char('\n'))));

    // In the program folder: the catalogue alone; its journal is gone again.
    QStringList inFolder;
    for (const auto& [path, stamp] : listing(folder.path())) inFolder << QFileInfo(path).fileName();
    QCOMPARE(inFolder, QStringList{QStringLiteral("Kalverodb.mdb")});

    // No new or changed file holds entry text or the key: where the program
    // keeps its temporary files and settings, and (entry text only, as other
    // programs write there too) the system's temporary folders.
    QStringList hits = filesHolding(
        changedFiles(tempBefore, listing(QDir::tempPath(), folder.path())), {marker, key});
    hits << filesHolding(changedFiles(settingsBefore, listing(settings_->path())), {marker, key});
    hits << filesHolding(changedFiles(systemBefore, listing(systemTemp, QDir::tempPath())),
                         {marker});
    hits << filesHolding(changedFiles(varBefore, listing(QStringLiteral("/var/tmp"))), {marker});
    QVERIFY2(hits.isEmpty(), qPrintable(hits.join(QLatin1Char('\n'))));
    QVERIFY(!readBytes(folder.cataloguePath()).contains(marker.toUtf8()));

    // Nor does the log.
    for (const QString& line : std::as_const(log))
        QVERIFY2(!line.contains(marker) && !line.contains(key), qPrintable(line));
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
