#include "window/filedrag.h"

#include <QDir>
#include <QMimeData>
#include <QUrl>

namespace kalvero::window {

QMimeData* fileDragData(const QStringList& paths) {
    QStringList texts;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        if (path.isEmpty()) continue;
        texts.append(path);
        if (QDir::isAbsolutePath(path)) urls.append(QUrl::fromLocalFile(path));
    }
    if (texts.isEmpty()) return nullptr;
    auto* mime = new QMimeData;
    if (!urls.isEmpty()) mime->setUrls(urls);
    mime->setText(texts.join(QLatin1Char('\n')));
    return mime;
}

}  // namespace kalvero::window
