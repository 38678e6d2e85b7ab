// The catalogue connection against real encrypted files: creation, the file
// format, the raw key, and every way the file can be wrong.

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "testsupport.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

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
    void pageOneDecryptsWithTheFormatsParameters();
    void catalogueFromEitherRelease_data();
    void catalogueFromEitherRelease();
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

// Page 1 of a new catalogue, decrypted here with OpenSSL alone and the format's
// fixed parameters: PBKDF2-HMAC-SHA1 with 64,000 rounds over the file's salt,
// AES-256-CBC, 48 reserved bytes per page (IV and HMAC-SHA1), HMAC key from 2
// rounds over the salt XOR 0x3a. Whatever SQLCipher this build links, the
// file it writes must be this one.
void CatalogueTest::pageOneDecryptsWithTheFormatsParameters() {
    TempProgramFolder folder;
    Catalogue catalogue(folder.path());
    catalogue.begin();
    catalogue.end();
    QFile file(folder.cataloguePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray page = file.read(Catalogue::kCipherPageSize);
    QCOMPARE(page.size(), Catalogue::kCipherPageSize);
    const auto* bytes = reinterpret_cast<const unsigned char*>(page.constData());

    constexpr int kReserve = 48, kSalt = 16;
    unsigned char key[32], hmacKey[32], hmacSalt[kSalt];
    QCOMPARE(PKCS5_PBKDF2_HMAC_SHA1("4862vemo", 8, bytes, kSalt, 64000, 32, key), 1);
    for (int i = 0; i < kSalt; ++i) hmacSalt[i] = bytes[i] ^ 0x3a;
    QCOMPARE(PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(key), 32, hmacSalt, kSalt, 2, 32,
                                    hmacKey),
             1);

    const int cipherEnd = Catalogue::kCipherPageSize - kReserve;
    // The HMAC covers the encrypted bytes, the IV and the page number (little-endian).
    QByteArray signedBytes = page.mid(kSalt, cipherEnd - kSalt + 16);
    signedBytes.append(QByteArray("\x01\x00\x00\x00", 4));
    unsigned char mac[20];
    unsigned int macLength = 0;
    HMAC(EVP_sha1(), hmacKey, 32, reinterpret_cast<const unsigned char*>(signedBytes.constData()),
         static_cast<size_t>(signedBytes.size()), mac, &macLength);
    QCOMPARE(macLength, 20u);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(mac), 20), page.mid(cipherEnd + 16, 20));

    QByteArray plain(cipherEnd - kSalt, '\0');
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int outLength = 0;
    QCOMPARE(EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, bytes + cipherEnd), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    QCOMPARE(EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(plain.data()), &outLength,
                               bytes + kSalt, cipherEnd - kSalt),
             1);
    EVP_CIPHER_CTX_free(ctx);
    // The database header from byte 16 on: page size 16384, format 1/1, 48
    // reserved bytes, payload fractions 64/32/32.
    QCOMPARE(plain.left(8), QByteArray("\x40\x00\x01\x01\x30\x40\x20\x20", 8));
}

void CatalogueTest::catalogueFromEitherRelease_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("maker");
    // Made with the sqlcipher shells of Debian 12 (SQLCipher 3.4.1) and
    // Debian 13 (4.6.1), as the README tells other tools to open the file.
    QTest::newRow("SQLCipher 3") << QStringLiteral("made-by-sqlcipher3.mdb")
                                 << QStringLiteral("made by SQLCipher 3 (Debian 12)");
    QTest::newRow("SQLCipher 4") << QStringLiteral("made-by-sqlcipher4.mdb")
                                 << QStringLiteral("made by SQLCipher 4 (Debian 13)");
}

void CatalogueTest::catalogueFromEitherRelease() {
    QFETCH(QString, file);
    QFETCH(QString, maker);
    TempProgramFolder folder;
    QVERIFY(QFile::copy(QStringLiteral(KALVERO_TEST_DATA "/") + file, folder.cataloguePath()));
    QFile::setPermissions(folder.cataloguePath(), QFile::ReadOwner | QFile::WriteOwner);
    Catalogue catalogue(folder.path());
    for (int i = 0; i < 2; ++i) {  // the passphrase's key, then the raw key
        catalogue.begin();
        catalogue.run(QStringLiteral("insert into SoundData (NameData) values ('added')"));
        catalogue.end();
    }
    const QList<Entry> expected = {
        {1, QStringLiteral("Dog bark"), QStringLiteral("/sounds/dog bark.wav"),
         QStringLiteral("Animals"), maker},
        {2, QStringLiteral("Äpfel fallen"), QStringLiteral("/sons/école/äpfel.flac"),
         QStringLiteral("Nature"), QStringLiteral("it's 100% \"real\"")},
        {3, QStringLiteral("СОБАКА"), QStringLiteral("/звуки/собака.ogg"),
         QStringLiteral("Животные"), QString()},
        {4, QStringLiteral("added"), QString(), QString(), QString()},
        {5, QStringLiteral("added"), QString(), QString(), QString()}};
    QCOMPARE(folder.readEntries(), expected);
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
