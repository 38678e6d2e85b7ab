#pragma once

#include "store/catalogue.h"

#include <QObject>
#include <QString>

namespace kalvero::window {

class ListView1;

// The tooltip of a row's Name: the entry's name and, when the catalogue keeps
// facts for it, its UCS category, creator, library, duration and format, and
// its loudness, loudness range and sample peak once analysed. The
// facts are read when a row is hovered, for that row alone, on a connection
// of the tips' own (the list's never waits for them); a catalogue another
// program holds locked gives the name alone at once.
class EntryFactsTips : public QObject {
    Q_OBJECT
public:
    // Watches `list`'s tooltip events; a child of the list.
    EntryFactsTips(ListView1* list, const QString& cataloguePath);

    // The tooltip of the row at `row` (from 0).
    QString toolTipFor(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ListView1* list_;
    // Keeps the key derived from the file's salt: only the first hover pays for it.
    store::Catalogue catalogue_;
    qint64 lastId_ = -1;
    QString lastFacts_;
};

}  // namespace kalvero::window
