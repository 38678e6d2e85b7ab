#include "window/filedrag.h"

#include <QCoreApplication>
#include <QDir>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

namespace kalvero::window {

namespace {

// Marks a drag of our own rows, with the process that made it: rows dragged
// from another Kalvero are files like any others.
constexpr QLatin1String kOwnRowsFormat("application/x-kalvero-list-rows");

QByteArray processMark() { return QByteArray::number(QCoreApplication::applicationPid()); }

// Everything that ends a line for a program reading text: LF, VT, FF, CR,
// NEL and the Unicode line and paragraph separators.
bool holdsLineBreak(const QString& path) {
    return std::any_of(path.begin(), path.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'\n' && u <= u'\r') || u == u'\u0085' || u == u'\u2028' || u == u'\u2029';
    });
}

}  // namespace

QMimeData* fileDragData(const QStringList& paths) {
    QStringList texts;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        if (path.isEmpty()) continue;
        if (!holdsLineBreak(path)) texts.append(path);
        if (QDir::isAbsolutePath(path)) urls.append(QUrl::fromLocalFile(path));
    }
    if (texts.isEmpty() && urls.isEmpty()) return nullptr;
    auto* mime = new QMimeData;
    if (!urls.isEmpty()) mime->setUrls(urls);
    if (!texts.isEmpty()) mime->setText(texts.join(QLatin1Char('\n')));
    mime->setData(kOwnRowsFormat, processMark());
    return mime;
}

bool isOwnRowDrag(const QMimeData* mime) {
    return mime && mime->hasFormat(kOwnRowsFormat) && mime->data(kOwnRowsFormat) == processMark();
}

}  // namespace kalvero::window
