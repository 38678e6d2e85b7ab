#include "store/sqlitehandle.h"

#include <utility>

namespace kalvero::store {

DbError::DbError(int code, QString message, QString statement)
    : std::runtime_error(message.toStdString()),
      code_(code),
      message_(std::move(message)),
      statement_(std::move(statement)) {}

Connection::Connection(const QString& path, int flags) {
    const QByteArray file = path.toUtf8();
    const int rc = sqlite3_open_v2(file.constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString message =
            db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError(rc, message, QString());
    }
    sqlite3_extended_result_codes(db_, 1);
}

Connection::~Connection() { close(); }

Connection::Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

void Connection::close() {
    if (db_) {
        // Every statement is finalized by its owner before we get here, so a
        // plain close succeeds; close_v2 keeps us safe should one still be alive.
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void Connection::exec(const QByteArray& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        QString message = err ? QString::fromUtf8(err) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_free(err);
        throw DbError(sqlite3_extended_errcode(db_) ? sqlite3_extended_errcode(db_) : rc, message,
                      QString::fromUtf8(sql));
    }
}

void Connection::fail(int code, const QByteArray& sql) const {
    const QString message =
        db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(code));
    throw DbError(code, message, QString::fromUtf8(sql));
}

Statement::Statement(const Connection& connection, const QByteArray& sql)
    : connection_(&connection), sql_(sql) {
    // The length is passed with the text, so the whole statement is compiled
    // up to its end or to the first NUL, whichever comes first.
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(connection.handle(), sql_.constData(),
                                      static_cast<int>(sql_.size()) + 1, &stmt_, &tail);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        connection.fail(sqlite3_extended_errcode(connection.handle()), sql_);
    }
    if (!stmt_) {
        // Only blanks or comments: nothing to run.
        throw DbError(SQLITE_MISUSE, QStringLiteral("The statement is empty."),
                      QString::fromUtf8(sql_));
    }
    // One call runs exactly one statement: anything after it is refused.
    for (const char* end = sql_.constData() + sql_.size(); tail && tail < end; ++tail) {
        if (*tail != ' ' && *tail != '\t' && *tail != '\n' && *tail != '\r') {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            throw DbError(SQLITE_MISUSE, QStringLiteral("The text holds more than one statement."),
                          QString::fromUtf8(sql_));
        }
    }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : connection_(other.connection_),
      stmt_(std::exchange(other.stmt_, nullptr)),
      sql_(std::move(other.sql_)) {}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    connection_->fail(sqlite3_extended_errcode(connection_->handle()), sql_);
}

void Statement::bindText(int index, const QByteArray& utf8) {
    const int rc = sqlite3_bind_text64(stmt_, index, utf8.constData(),
                                       static_cast<sqlite3_uint64>(utf8.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK) connection_->fail(rc, sql_);
}

void Statement::bindText(int index, QStringView text) {
    const int rc = sqlite3_bind_text64(stmt_, index, reinterpret_cast<const char*>(text.utf16()),
                                       static_cast<sqlite3_uint64>(text.size()) * 2,
                                       SQLITE_TRANSIENT, SQLITE_UTF16);
    if (rc != SQLITE_OK) connection_->fail(rc, sql_);
}

void Statement::bindNull(int index) {
    const int rc = sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK) connection_->fail(rc, sql_);
}

void Statement::bindInt64(int index, qint64 value) {
    const int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) connection_->fail(rc, sql_);
}

void Statement::reset() { sqlite3_reset(stmt_); }

QString Statement::columnName(int i) const {
    return QString::fromUtf8(sqlite3_column_name(stmt_, i));
}

const char* Statement::text(int i, int& bytes) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    bytes = p ? sqlite3_column_bytes(stmt_, i) : 0;
    return p ? p : "";
}

QByteArray Statement::textBytes(int i) const {
    int n = 0;
    const char* p = text(i, n);
    return QByteArray(p, n);
}

}  // namespace kalvero::store
