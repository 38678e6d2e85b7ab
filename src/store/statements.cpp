#include "store/statements.h"

namespace kalvero::store {

namespace {

// In a quoted literal, a doubled quote is the whole escape.
QString doubledQuotes(QString text) {
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    return text;
}

// " and <column> Like '%<text>%'": the user's % and _ stay wildcards.
void addFilter(QString& sql, const char* before, const QString& text) {
    if (text.isEmpty()) return;
    sql += QLatin1String(before);
    sql += doubledQuotes(text);
    sql += QLatin1String("%'");
}

}  // namespace

QString quoteText(const QString& text) {
    return QLatin1Char('\'') + doubledQuotes(text) + QLatin1Char('\'');
}

QString buildSelect(const SearchTexts& search, qint16 sortInt, qint16& remembered) {
    QString sql = QStringLiteral(
        "select ID, NameData as [Name], FilePath as [File Path], Category,Descriptiondata as "
        "Description  from Sounddata where 1 = 1 ");
    addFilter(sql, " and [Namedata] Like '%", search.name);
    addFilter(sql, " and FilePAth Like '%", search.file);
    addFilter(sql, " and Category Like '%", search.category);
    addFilter(sql, " and Descriptiondata Like '%", search.description);
    sql += QLatin1String(" order by ") + QString::number(sortInt);
    if (sortInt == remembered && sortInt > 1) {
        sql += QLatin1String(" Desc ");
        remembered = 0;
    } else {
        remembered = sortInt;
    }
    return sql;
}

QString buildInsert(const QString& name, const QString& file, const QString& category,
                    const QString& description) {
    return QLatin1String("insert into SoundData (NameData, FilePath, Category, DescriptionData) ") +
           QLatin1String(" values (") + quoteText(name) + QLatin1Char(',') + quoteText(file) +
           QLatin1Char(',') + quoteText(category) + QLatin1Char(',') + quoteText(description) +
           QLatin1Char(')');
}

QString buildDelete(const QString& id) {
    return QLatin1String("delete from sounddata where id = ") + id;
}

}  // namespace kalvero::store
