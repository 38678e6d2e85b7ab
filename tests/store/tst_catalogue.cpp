// The catalogue connection against real encrypted files: creation, the file
// format, the raw key, and every way the file can be wrong.

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "testsupport.h"

#include <QtTest>

using namespace kalvero::store;
using kalvero::test::Entry;
using kalvero::test::TempProgramFolder;

class CatalogueTest : public QObject {
    Q_OBJECT
private slots:
    void setUpTouchesNoFile();
    void missingFileIsCreatedEncrypted();
    void reopensWithDerivedKeyAndPassphrase();
    void fileFormatIsFixed();
    void badFiles_data();
    void badFiles();
    void missingFolder();
    void lockedFile();
    void oneStatementAtATime();
};

void CatalogueTest::setUpTouchesNoFile() {
    TempProgramFolder folder;
    Catalogue catalogue(folder.path());
    QCOMPARE(catalogue.state(), Catalogue::State::Closed);
    QVERIFY(!QFile::exists(folder.cataloguePath()));
    QCOMPARE(catalogue.filePath(), folder.cataloguePath());
}

void CatalogueTest::missingFileIsCreatedEncrypted() {
    TempProgramFolder folder;
    Catalogue catalogue(folder.path());
    catalogue.begin();
    QCOMPARE(catalogue.state(), Catalogue::State::Open);
    catalogue.run(
        QStringLiteral("insert into SoundData (NameData, FilePath) values ('secret-marker', 'x')"));
    catalogue.end();
    QCOMPARE(catalogue.state(), Catalogue::State::Closed);

    QFile file(folder.cataloguePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(!bytes.startsWith("SQLite format 3"));
    QVERIFY(!bytes.contains("secret-marker"));
    QVERIFY(!bytes.contains("SoundData"));
    QCOMPARE(folder.countRows(), 1);
}

void CatalogueTest::reopensWithDerivedKeyAndPassphrase() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("one"), QStringLiteral("1.wav"), {}, {}}});
    Catalogue catalogue(folder.path());
    for (int i = 0; i < 3; ++i) {  // the first open derives the key, the others reuse it
        catalogue.begin();
        catalogue.run(QStringLiteral("insert into SoundData (FilePath) values ('more.wav')"));
        catalogue.end();
    }
    // Another tool with the passphrase still opens the file.
    QCOMPARE(folder.countRows(), 4);

    // A replaced file (new salt) is opened too: the key is derived afresh.
    QFile::remove(folder.cataloguePath());
    folder.createCatalogue({{0, QStringLiteral("fresh"), QStringLiteral("f.wav"), {}, {}}});
    catalogue.begin();
    Statement st = catalogue.query(QStringLiteral("select NameData from SoundData"));
    QVERIFY(st.step());
    QCOMPARE(st.textBytes(0), QByteArray("fresh"));
}

void CatalogueTest::fileFormatIsFixed() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("x"), QStringLiteral("y"), {}, {}}});
    // With the default page size of 1024 the file does not decrypt: its pages are 16 KiB.
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(folder.cataloguePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY,
                             nullptr),
             SQLITE_OK);
    sqlite3_key(db, "4862vemo", 8);
    const int rc = sqlite3_exec(db, "select count(*) from SoundData", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QCOMPARE(rc, SQLITE_NOTADB);
    QCOMPARE(QFileInfo(folder.cataloguePath()).size() % Catalogue::kCipherPageSize, 0);
}

void CatalogueTest::badFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("code");
    QTest::newRow("random bytes") << QByteArray(40000, 'x') << SQLITE_NOTADB;
    QTest::newRow("plain unencrypted database")
        << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\0') << SQLITE_NOTADB;
    QTest::newRow("short text file") << QByteArray("hello, I am not a catalogue") << SQLITE_NOTADB;
}

void CatalogueTest::badFiles() {
    QFETCH(QByteArray, content);
    QFETCH(int, code);
    TempProgramFolder folder;
    QFile file(folder.cataloguePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    Catalogue catalogue(folder.path());
    try {
        catalogue.begin();
        catalogue.query(QStringLiteral("select * from SoundData"));
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.primaryCode(), code);
        QVERIFY(describeFailure(QStringLiteral("read"), catalogue.filePath(), e)
                    .contains(QStringLiteral("not a Kalvero catalogue")));
    }
    catalogue.end();
    QCOMPARE(catalogue.state(), Catalogue::State::Closed);
    // Nothing was written into the foreign file.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void CatalogueTest::missingFolder() {
    TempProgramFolder folder;
    for (const QString& where : {folder.path() + QStringLiteral("/no/such/folder"),
                                 folder.path() + QStringLiteral("/a file")}) {
        QFile(folder.path() + QStringLiteral("/a file")).open(QIODevice::WriteOnly);
        Catalogue catalogue(where);
        try {
            catalogue.begin();
            QFAIL("opened");
        } catch (const DbError& e) {
            QCOMPARE(e.primaryCode(), SQLITE_CANTOPEN);
        }
        QCOMPARE(catalogue.state(), Catalogue::State::Closed);
    }
}

void CatalogueTest::lockedFile() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("kept"), QStringLiteral("k.wav"), {}, {}}});
    Connection other = openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
    other.exec("BEGIN EXCLUSIVE");
    other.exec("insert into SoundData (FilePath) values ('uncommitted')");

    Catalogue catalogue(folder.path());
    try {
        catalogue.begin();
        catalogue.run(QStringLiteral("insert into SoundData (FilePath) values ('mine')"));
        QFAIL("wrote through another program's lock");
    } catch (const DbError& e) {
        QCOMPARE(e.primaryCode(), SQLITE_BUSY);
    }
    catalogue.end();
    other.exec("ROLLBACK");
    other.close();
    // Once the lock is gone the next operation works, and nothing was lost.
    catalogue.begin();
    catalogue.run(QStringLiteral("insert into SoundData (FilePath) values ('mine')"));
    catalogue.end();
    const auto rows = folder.readEntries();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].name, QStringLiteral("kept"));
    QCOMPARE(rows[1].file, QStringLiteral("mine"));
}

void CatalogueTest::oneStatementAtATime() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QStringLiteral("kept"), QStringLiteral("k.wav"), {}, {}}});
    Catalogue catalogue(folder.path());
    catalogue.begin();
    QVERIFY_THROWS_EXCEPTION(DbError,
                             catalogue.run(QStringLiteral("select 1; delete from SoundData")));
    // A NUL ends the text the engine sees; the literal is then unterminated.
    QVERIFY_THROWS_EXCEPTION(
        DbError, catalogue.run(QStringLiteral("insert into SoundData (FilePath) values ('a") +
                               QChar(0) + QStringLiteral("')")));
    catalogue.end();
    QCOMPARE(folder.countRows(), 1);
}

QTEST_GUILESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
