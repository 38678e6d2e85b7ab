#include "store/dberrortext.h"

#include <QDir>

namespace kalvero::store {

QString plainCause(const DbError& error) {
    switch (error.primaryCode()) {
        case SQLITE_NOTADB:
            return QStringLiteral(
                "The file is not a Kalvero catalogue, or its password is not the one Kalvero "
                "uses.");
        case SQLITE_CANTOPEN:
            return QStringLiteral(
                "The file could not be opened. Check that its folder exists and that you may "
                "read and write there.");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QStringLiteral(
                "Another program is using the catalogue right now. Close it and try again.");
        case SQLITE_READONLY:
            return QStringLiteral(
                "The catalogue cannot be changed: the file or its folder is read-only.");
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return QStringLiteral("You do not have permission to use this file.");
        case SQLITE_FULL:
            return QStringLiteral("The disk is full. Free some space and try again.");
        case SQLITE_CORRUPT:
            return QStringLiteral("The catalogue file is damaged.");
        case SQLITE_IOERR:
            return QStringLiteral(
                "The file could not be read or written. The disk may be full, removed or "
                "failing.");
        case SQLITE_NOTFOUND:
            return QStringLiteral(
                "The catalogue file is no longer there: it was moved or deleted while Kalvero "
                "was running. Put it back and try again; Kalvero starts a new, empty catalogue "
                "only when it starts without one.");
        case SQLITE_FORMAT:
            return QStringLiteral(
                "This build of Kalvero uses an encryption library that cannot read or write the "
                "catalogue's file format. Nothing was changed.");
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return QStringLiteral("The text is too large for the catalogue.");
        default:
            return QStringLiteral("The catalogue refused the operation.");
    }
}

QString describeFailure(const QString& action, const QString& filePath, const DbError& error) {
    return QStringLiteral("Kalvero could not %1 the catalogue\n%2\n\n%3\n\n(Database error %4: %5)")
        .arg(action, QDir::toNativeSeparators(filePath), plainCause(error),
             QString::number(error.code()), error.message());
}

}  // namespace kalvero::store
