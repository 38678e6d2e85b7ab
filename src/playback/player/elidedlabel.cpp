#include "playback/player/elidedlabel.h"

#include <QPainter>
#include <QStyle>

namespace kalvero::player {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const {
    // Room for a few letters and the ellipsis; the layout gives it the rest.
    return {fontMetrics().horizontalAdvance(QStringLiteral("WWW…")),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    // The text may have changed since the last paint: the tooltip follows it.
    if (toolTip() != text()) setToolTip(text());
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), shownText(), foregroundRole());
}

}  // namespace kalvero::player
