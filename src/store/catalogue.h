#pragma once

#include "store/sqlitehandle.h"
#include "store/statementpacer.h"

#include <QString>
#include <memory>
#include <optional>

namespace kalvero::store {

// The one connection to the catalogue file that the main window owns.
// Setting it up touches no file; every operation is begin, one statement,
// end, and between operations the connection is closed.
class Catalogue {
public:
    enum class State { Closed, Open };

    static constexpr const char* kFileName = "Kalverodb.mdb";
    static constexpr const char* kPassword = "4862vemo";
    static constexpr int kCipherPageSize = 16384;

    // Stores the settings; opens nothing.
    explicit Catalogue(const QString& programFolder);
    // The same for a catalogue file of another name or place (tools' --catalogue).
    static Catalogue forFile(const QString& filePath) {
        Catalogue c{QString()};
        c.path_ = filePath;
        return c;
    }

    const QString& filePath() const { return path_; }
    State state() const { return connection_.isOpen() ? State::Open : State::Closed; }

    // Closes the connection if it is open, then opens it with the stored
    // settings. A missing file is created, encrypted, with an empty table.
    void begin();
    // Runs one statement that returns no rows.
    void run(const QString& sql);
    // Runs one statement that changes the catalogue, in a transaction of its own.
    void change(const QString& sql);
    // Prepares one statement whose rows the caller steps through.
    Statement query(const QString& sql);
    // The open connection's data_version: it changes when another connection
    // commits to the file, never for this connection's own commits.
    qint64 dataVersion() const;
    // Rows the last insert, update or delete changed.
    int changes() const { return sqlite3_changes(connection_.handle()); }
    // Closes the connection if it is open.
    void end();
    // The open connection, for the store's functions that take one.
    const Connection& connection() const { return connection_; }
    Connection& connection() { return connection_; }

    // A read-only connection of its own to the same file, keyed as this one
    // is (a key derived once serves both), for watching the file between
    // operations. Throws DbError when the file cannot be opened.
    Connection openReader();

    // From the next begin on, every statement hands `turn` control about every
    // `intervalMs` while it runs, and stops when the turn returns false.
    void setPacing(int intervalMs, StatementPacer::Turn turn);
    // The pacer of the open connection; null when closed or not paced.
    StatementPacer* pacer() const { return pacer_.get(); }

private:
    void applyKeyFor(Connection& c);
    void startPacing();

    QString path_;
    Connection connection_;
    bool openedBefore_ = false;
    // The raw key derived from the passphrase and the file's salt, so that
    // only the first open of a file pays for the key derivation.
    QByteArray rawKey_;
    QByteArray rawKeySalt_;
    int pacingIntervalMs_ = 0;
    StatementPacer::Turn pacingTurn_;
    // Declared after the connection: removed before the connection closes.
    std::unique_ptr<StatementPacer> pacer_;
};

// Whether the catalogue on `c` holds the list's table exactly as Kalvero makes
// it and nothing that could change how the list's select reads it: no index
// (the engine might walk one instead of sorting), trigger or view, and no
// table but the facts' beside it; texts kept
// as UTF-8; a sorter that works in one thread. Only then can the select's
// rows and order be worked out without the engine.
bool isPlainCatalogue(const Connection& c);

// Opens and keys `path`, with our case folding. For tools and tests that need a
// connection of their own to a catalogue file.
Connection openCatalogueFile(const QString& path, int flags);

}  // namespace kalvero::store
