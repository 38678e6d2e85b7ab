#include "window/appicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kalvero::window {

namespace {

QPixmap speaker(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1d, 0x4e, 0x89));
    QPainterPath body;
    body.moveTo(4, 12);
    body.lineTo(10, 12);
    body.lineTo(18, 5);
    body.lineTo(18, 27);
    body.lineTo(10, 20);
    body.lineTo(4, 20);
    body.closeSubpath();
    p.drawPath(body);
    QPen wave(QColor(0x1d, 0x4e, 0x89), 2.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(14, 10, 10, 12), -50 * 16, 100 * 16);
    p.drawArc(QRectF(14, 5, 16, 22), -50 * 16, 100 * 16);
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    icon.addPixmap(speaker(32));
    icon.addPixmap(speaker(16));
    return icon;
}

}  // namespace kalvero::window
