#pragma once

#include <QString>

namespace kalvero::store {

// The catalogue's statements, built as text. User text goes in between single
// quotes with every quote doubled; in SQLite's dialect that is a complete escape.

// Doubles every single quote and puts the result between single quotes.
QString quoteText(const QString& text);

// The texts of the four search boxes; an empty text adds no clause.
struct SearchTexts {
    QString name;
    QString file;
    QString category;
    QString description;
};

// The list's select. `remembered` is the sort position kept between loads:
// asking for the same column (other than the first) twice in a row sorts it
// descending and resets the memory to 0; otherwise it becomes `sortInt`.
QString buildSelect(const SearchTexts& search, qint16 sortInt, qint16& remembered);

QString buildInsert(const QString& name, const QString& file, const QString& category,
                    const QString& description);

// `id` is the entry's ID as the list shows it, a bare number.
QString buildDelete(const QString& id);

}  // namespace kalvero::store
