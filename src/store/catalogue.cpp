#include "store/catalogue.h"

#include "store/transaction.h"
#include "store/unicodefold.h"

#include <openssl/evp.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <mutex>

namespace kalvero::store {

namespace {

constexpr int kSaltBytes = 16;
constexpr int kKdfIterations = 64000;  // the file format's key derivation
constexpr int kKeyBytes = 32;

const char* const kCreateTable =
    "CREATE TABLE SoundData ("
    "ID INTEGER PRIMARY KEY AUTOINCREMENT, "
    "NameData TEXT COLLATE NOCASE, "
    "FilePath TEXT COLLATE NOCASE, "
    "Category TEXT COLLATE NOCASE, "
    "DescriptionData TEXT COLLATE NOCASE)";

QByteArray pragmaValue(const Connection& c, const QByteArray& pragma) {
    Statement st(c, "PRAGMA " + pragma);
    return st.step() ? st.textBytes(0) : QByteArray();
}

// What the engine in this process says of itself, read once.
struct CipherLibrary {
    QByteArray version;  // "3.4.1", "4.6.1 community"; empty for plain SQLite
    int major = 0;
    std::atomic<bool> formatChecked = false;  // connections may open on other threads
};

CipherLibrary& cipherLibrary(Connection& c) {
    static CipherLibrary library;
    static std::once_flag read;
    std::call_once(read, [&c] {
        library.version = pragmaValue(c, "cipher_version");
        library.major = library.version.left(library.version.indexOf('.')).toInt();
        // SQLCipher 4 lays out a new file's pages when the key is given: told
        // only afterwards to behave as version 3, it would still reserve room
        // on every page for its own, longer page checksums. This default holds
        // for every connection the process opens from now on.
        if (library.major >= 4) c.exec("PRAGMA cipher_default_compatibility = 3");
    });
    return library;
}

void keyWith(Connection& c, const QByteArray& key) {
    cipherLibrary(c);  // the first connection sets the format's defaults
    const int rc = sqlite3_key(c.handle(), key.constData(), static_cast<int>(key.size()));
    if (rc != SQLITE_OK) c.fail(rc, QByteArrayLiteral("PRAGMA key"));
}

// The file format is the one SQLCipher 3 makes by default, with 16 KiB pages:
// PBKDF2-HMAC-SHA1 with 64,000 rounds, HMAC-SHA1 on every page. SQLCipher 4
// creates and opens other files unless told to behave as version 3, so the
// format is pinned on every connection, and once per run the engine is asked
// whether it took the settings. An engine that cannot keep the format is
// refused before it writes anything.
void pinFileFormat(Connection& c) {
    CipherLibrary& library = cipherLibrary(c);
    if (library.major >= 4) c.exec("PRAGMA cipher_compatibility = 3");
    c.exec(QByteArrayLiteral("PRAGMA cipher_page_size = ") +
           QByteArray::number(Catalogue::kCipherPageSize));
    if (library.formatChecked) return;
    bool pinned =
        library.major >= 3 && pragmaValue(c, "kdf_iter") == QByteArray::number(kKdfIterations) &&
        pragmaValue(c, "cipher_page_size") == QByteArray::number(Catalogue::kCipherPageSize);
    if (pinned && library.major >= 4) {
        pinned = pragmaValue(c, "cipher_kdf_algorithm") == "PBKDF2_HMAC_SHA1" &&
                 pragmaValue(c, "cipher_hmac_algorithm") == "HMAC_SHA1";
    }
    if (!pinned) {
        throw DbError(SQLITE_FORMAT,
                      QStringLiteral("The encryption library (SQLCipher %1) cannot keep the "
                                     "catalogue's file format.")
                          .arg(library.version.isEmpty() ? QStringLiteral("missing")
                                                         : QString::fromUtf8(library.version)),
                      QString());
    }
    library.formatChecked = true;
}

void configure(Connection& c) {
    pinFileFormat(c);
    // Sorts stay in memory: faster, and no entry text reaches a temporary file.
    c.exec("PRAGMA temp_store = MEMORY");
    sqlite3_busy_timeout(c.handle(), kWindowBusyTimeoutMs);
    registerUnicodeCaseFolding(c.handle());
}

// A file that holds nothing yet is made into a new catalogue.
bool holdsData(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && (!info.isFile() || info.size() > 0);
}

QByteArray readSalt(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray salt = file.read(kSaltBytes);
    return salt.size() == kSaltBytes ? salt : QByteArray();
}

// Reading the page count first undoes what a crashed program left in its journal.
bool isEmptyDatabase(const Connection& c) {
    Statement pages(c, QByteArrayLiteral("PRAGMA page_count"));
    return pages.step() && pages.textBytes(0) == "0";
}

}  // namespace

Catalogue::Catalogue(const QString& programFolder)
    : path_(QDir(programFolder).filePath(QString::fromLatin1(kFileName))) {}

void Catalogue::begin() {
    end();
    // One thread uses the connection: no locking around every call.
    constexpr int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const bool present = holdsData(path_);
    // A new, empty catalogue is made only until the first open succeeds. One that disappears later
    // was moved or deleted under us: making a new one then would hide that and scatter entries over
    // two files.
    if (!present && openedBefore_)
        throw DbError(SQLITE_NOTFOUND, QStringLiteral("The catalogue file is missing."), QString());
    if (present) {
        Connection c(path_, flags);
        applyKeyFor(c);
        configure(c);
        // A program killed while it created the file can leave pages behind with
        // a journal that takes all of them back: opened, the file is empty again.
        // It is then made anew, keyed from the passphrase and its own new salt.
        if (!QFile::exists(path_ + QStringLiteral("-journal")) || !isEmptyDatabase(c)) {
            connection_ = std::move(c);
            openedBefore_ = true;
            startPacing();
            return;
        }
    }
    Connection c(path_, flags);
    keyWith(c, QByteArray(kPassword));
    configure(c);
    c.exec(kCreateTable);
    connection_ = std::move(c);
    openedBefore_ = true;
    startPacing();
}

void Catalogue::applyKeyFor(Connection& c) {
    // The passphrase goes through 64,000 rounds of PBKDF2 on every open; the
    // derived key, given as a raw key, opens the same file at once. It is
    // derived again whenever the file's salt changes (a new or replaced file).
    const QByteArray salt = readSalt(path_);
    if (salt.isEmpty()) {
        keyWith(c, QByteArray(kPassword));
        return;
    }
    if (salt != rawKeySalt_) {
        // The same derivation the engine makes from the passphrase: PBKDF2 with
        // HMAC-SHA1 over the file's salt.
        QByteArray key(kKeyBytes, '\0');
        if (PKCS5_PBKDF2_HMAC_SHA1(kPassword, static_cast<int>(qstrlen(kPassword)),
                                   reinterpret_cast<const unsigned char*>(salt.constData()),
                                   static_cast<int>(salt.size()), kKdfIterations, kKeyBytes,
                                   reinterpret_cast<unsigned char*>(key.data())) != 1) {
            keyWith(c, QByteArray(kPassword));
            return;
        }
        rawKey_ = "x'" + key.toHex().toUpper() + "'";
        rawKeySalt_ = salt;
    }
    keyWith(c, rawKey_);
}

Connection Catalogue::openReader() {
    Connection c(path_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    applyKeyFor(c);
    configure(c);
    return c;
}

void Catalogue::run(const QString& sql) {
    Statement statement(connection_, sql.toUtf8());
    while (statement.step()) {
    }
}

void Catalogue::change(const QString& sql) {
    Transaction transaction(connection_);
    run(sql);
    transaction.commit();
}

Statement Catalogue::query(const QString& sql) { return Statement(connection_, sql.toUtf8()); }

qint64 Catalogue::dataVersion() const {
    Statement version(connection_, QByteArrayLiteral("PRAGMA data_version"));
    return version.step() ? version.int64(0) : -1;
}

void Catalogue::end() {
    pacer_.reset();
    connection_.close();
}

void Catalogue::setPacing(int intervalMs, StatementPacer::Turn turn) {
    pacingIntervalMs_ = intervalMs;
    pacingTurn_ = std::move(turn);
}

void Catalogue::startPacing() {
    if (pacingTurn_)
        pacer_ =
            std::make_unique<StatementPacer>(connection_.handle(), pacingIntervalMs_, pacingTurn_);
}

bool isPlainCatalogue(const Connection& c) {
    if (pragmaValue(c, "encoding") != "UTF-8" || pragmaValue(c, "threads") != "0") return false;
    Statement schema(c, QByteArrayLiteral("select type, name, sql from sqlite_master"));
    bool table = false;
    while (schema.step()) {
        const QByteArray type = schema.textBytes(0), name = schema.textBytes(1);
        if (type == "table" && name == "SoundData" && schema.textBytes(2) == kCreateTable)
            table = true;
        // The facts table (store/facts.h) is never part of the list's select.
        else if (!(type == "table" && (name == "sqlite_sequence" || name == "SoundFacts")))
            return false;
    }
    return table;
}

Connection openCatalogueFile(const QString& path, int flags) {
    Connection c(path, flags);
    keyWith(c, QByteArray(Catalogue::kPassword));
    configure(c);
    return c;
}

}  // namespace kalvero::store
