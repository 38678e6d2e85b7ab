#pragma once

#include <QString>

namespace kalvero::importer {

// `one` or `many` (each with a "%1" for the number), as `count` asks, with
// the number in it: every count the program prints says "1 entry", never
// "1 entries".
inline QString counted(qint64 count, const QString& one, const QString& many) {
    return (count == 1 ? one : many).arg(count);
}

inline QString entries(qint64 count) {
    return counted(count, QStringLiteral("%1 entry"), QStringLiteral("%1 entries"));
}

}  // namespace kalvero::importer
