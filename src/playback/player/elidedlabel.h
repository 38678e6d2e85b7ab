#pragma once

#include <QLabel>

namespace kalvero::player {

// A one-line label that never asks for more width than it gets: text that
// does not fit ends in an ellipsis, and the tooltip always holds all of it.
// text() stays the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // What is drawn at the label's present width.
    QString shownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kalvero::player
