#pragma once

#include <sqlite3.h>

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <stdexcept>

namespace kalvero::store {

// A failure of the database engine, with everything needed to explain it:
// the engine's result code, its message and the statement that was running.
class DbError : public std::runtime_error {
public:
    DbError(int code, QString message, QString statement);

    int code() const { return code_; }
    // The primary result code, without the extended bits.
    int primaryCode() const { return code_ & 0xff; }
    const QString& message() const { return message_; }
    const QString& statement() const { return statement_; }

private:
    int code_;
    QString message_;
    QString statement_;
};

// Owns one sqlite3 connection handle. Movable, not copyable.
class Connection {
public:
    Connection() = default;
    // Opens (and, with SQLITE_OPEN_CREATE, creates) the file; throws DbError on failure.
    Connection(const QString& path, int flags);
    ~Connection();
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }
    void close();

    // Runs one or more statements that return no rows.
    void exec(const QByteArray& sql);
    [[noreturn]] void fail(int code, const QByteArray& sql) const;

private:
    sqlite3* db_ = nullptr;
};

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(const Connection& connection, const QByteArray& sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Moves to the next row; false at the end. Throws DbError on failure.
    bool step();
    int columnCount() const { return sqlite3_column_count(stmt_); }
    QString columnName(int i) const;
    // The field as UTF-8 bytes; a NULL gives an empty text.
    const char* text(int i, int& bytes) const;
    QByteArray textBytes(int i) const;
    bool isNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    // The field's storage class (SQLITE_NULL, SQLITE_TEXT, SQLITE_BLOB...); ask
    // before text(), which may convert the value.
    int type(int i) const { return sqlite3_column_type(stmt_, i); }
    qint64 int64(int i) const { return sqlite3_column_int64(stmt_, i); }
    const QByteArray& sql() const { return sql_; }

    // Bound values, parameters counted from 1. The text is copied, so the
    // caller's buffer may go away before the step. Throw DbError on failure.
    void bindText(int index, const QByteArray& utf8);
    // The same from UTF-16, converted by the engine: no copy on our side.
    void bindText(int index, QStringView text);
    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    // Makes the statement ready to run again; bindings are kept.
    void reset();

private:
    const Connection* connection_;
    sqlite3_stmt* stmt_ = nullptr;
    QByteArray sql_;
};

}  // namespace kalvero::store
