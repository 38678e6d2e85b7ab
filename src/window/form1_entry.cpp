// The entry panel (Add, Clear, Browse, dropped files), the list's selection
// tag and context menu, and copying or deleting an entry.

#include "prefs/maker.h"
#include "window/filedrag.h"
#include "window/form1.h"
#include "window/listsnapshot.h"
#include "window/listview1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <algorithm>

namespace kalvero::window {

namespace {

QString firstLocalFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return {};
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) return url.toLocalFile();
    }
    return {};
}

// Rows dragged out of our own list name entries the catalogue holds already:
// let go anywhere on this window they are no drop of files, neither a file
// for "Sound File:" nor an import, nor text for a box.
bool isOwnDrag(const QWidget* window, const QDropEvent* event) {
    if (isOwnRowDrag(event->mimeData())) return true;
    const auto* source = qobject_cast<const QWidget*>(event->source());
    return source && (source == window || window->isAncestorOf(source));
}

// An ID as the list shows it: a whole number. The database gives positive
// ones, but another program may have stored a negative one.
bool isEntryId(const QString& text) {
    QStringView digits(text);
    if (digits.startsWith(QLatin1Char('-'))) digits = digits.mid(1);
    if (digits.isEmpty() || digits.size() > 19) return false;
    return std::all_of(digits.begin(), digits.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

}  // namespace

bool isStorableText(const QString& text) {
    return !text.contains(QChar(0)) && QStringView(text).isValidUtf16();
}

void Form1::Command1_Click() {
    if (deferWhileLoading([this] { Command1_Click(); })) return;
    if (Text2->text().isEmpty()) {
        showMessage(QLatin1String(prefs::kAppTitle),
                    QStringLiteral("Could you please enter the file name for a sound file."));
        return;
    }
    // The catalogue keeps texts as UTF-8: a NUL would cut the statement short
    // and half a surrogate pair has no UTF-8 form. Refuse rather than store
    // something other than what was typed.
    const std::pair<QLineEdit*, const char*> boxes[] = {
        {Text1, "Name"}, {Text2, "Sound File"}, {Text3, "Category"}, {Text4, "Description"}};
    for (const auto& [box, label] : boxes) {
        if (!isStorableText(box->text())) {
            showMessage(QLatin1String(prefs::kAppTitle),
                        QStringLiteral("The \"%1\" box holds characters that cannot be stored in "
                                       "the catalogue (a NUL character or a broken surrogate "
                                       "pair). Remove them and add the entry again.")
                            .arg(QLatin1String(label)));
            return;
        }
    }
    try {
        // Events run during the statement; what they ask for waits until it ends.
        changing_ = true;
        const auto done = qScopeGuard([this] { changing_ = false; });
        catalogue_.begin();
        const QString sql =
            store::buildInsert(Text1->text(), Text2->text(), Text3->text(), Text4->text());
        emit statementIssued(sql);
        catalogue_.change(sql);
        catalogue_.end();
    } catch (const store::DbError& error) {
        // Nothing was stored: keep what the user typed.
        catalogue_.end();
        reportFailure(QStringLiteral("add the entry to"), error);
        runDeferred();
        return;
    }
    Command2_Click();
}

void Form1::Command2_Click() {
    Text1->setText(QString());
    Text2->setText(QString());
    Text3->setText(QString());
    Text4->setText(QString());
    SearchData1(1);
}

void Form1::Command3_Click() {
    askUser([this](UserDialogs& dialogs) {
        // A cancelled dialog leaves the box as it was.
        if (const std::optional<QString> file = dialogs.openFileName(this)) Text2->setText(*file);
    });
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!isOwnDrag(this, event) && !firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // A sound file dropped on any of the text boxes goes to "Sound File:" as
    // well, not into the box as the text of its address; other drops (plain
    // text) stay the box's own.
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (isOwnDrag(this, drag)) {
                drag->ignore();
                return true;
            }
            if (firstLocalFile(drag->mimeData()).isEmpty()) break;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (isOwnDrag(this, drop)) {
                drop->ignore();
                return true;
            }
            if (firstLocalFile(drop->mimeData()).isEmpty()) break;
            dropEvent(drop);
            return true;
        }
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::dropEvent(QDropEvent* event) {
    if (isOwnDrag(this, event)) {
        event->ignore();
        return;
    }
    if (importDroppedPaths(event->mimeData())) {
        event->acceptProposedAction();
        return;
    }
    const QString file = firstLocalFile(event->mimeData());
    if (file.isEmpty()) return;
    Text2->setText(file);
    event->acceptProposedAction();
}

int Form1::firstSelectedPosition() const {
    int first = 0;
    const int n = ListView1->count();
    for (const QItemSelectionRange& range : ListView1->selectionModel()->selection()) {
        const int top = range.top() + 1;
        if (top <= n && (first == 0 || top < first)) first = top;
    }
    return first;
}

int Form1::lastSelectedPosition() const {
    int last = 0;
    const int n = ListView1->count();
    for (const QItemSelectionRange& range : ListView1->selectionModel()->selection())
        last = std::max(last, std::min(range.bottom() + 1, n));
    return last;
}

void Form1::ListView1_MouseDown(Qt::MouseButton button) {
    // The tag names the last selected row in list order; with nothing
    // selected it keeps what it had.
    if (const int position = lastSelectedPosition(); position > 0)
        selectionTag_ =
            ListView1->itemText(position) + QLatin1Char('-') + QString::number(position);
    if (button == Qt::RightButton) Rmenu->popup(QCursor::pos());
}

void Form1::EditEntry_Click() {
    const int position = firstSelectedPosition();
    if (position == 0) return;
    QLineEdit* boxes[] = {Text1, Text2, Text3, Text4};
    for (int j = 0; j < ListView1->columnCount() - 1 && j < 4; ++j)
        boxes[j]->setText(ListView1->subItemText(position, j + 1));
}

void Form1::DeleteMenu_Click() {
    if (deferWhileLoading([this] { DeleteMenu_Click(); })) return;
    askUser([this](UserDialogs& dialogs) {
        const auto answer = dialogs.message(
            this, QStringLiteral("Kalvero"),
            QStringLiteral("Are you sure you want to delete this item?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::NoIcon);
        if (answer == QMessageBox::Yes) deleteTaggedEntry();
    });
}

void Form1::deleteTaggedEntry() {
    // The tag is "ID-position". The entry is deleted only while the list still
    // shows it, and the row removed is the one showing that ID: after a reload,
    // a filter or an earlier delete the remembered position may name another row.
    // The position is never negative, so the last "-" ends the ID even when the
    // ID itself is negative.
    const qsizetype dash = selectionTag_.lastIndexOf(QLatin1Char('-'));
    if (dash <= 0) return;
    const QString id = selectionTag_.left(dash);
    if (!isEntryId(id)) return;
    bool positionOk = false;
    const qint64 remembered = selectionTag_.mid(dash + 1).toLongLong(&positionOk);
    if (!positionOk) return;

    int row = 0;
    if (remembered >= 1 && remembered <= ListView1->count() &&
        ListView1->itemText(static_cast<int>(remembered)) == id) {
        row = static_cast<int>(remembered);
    } else {
        row = ListView1->rows()->findRowByFirstField(id.toStdString()) + 1;
    }
    if (row == 0) {
        showMessage(QStringLiteral("Kalvero"),
                    QStringLiteral("The entry %1 is no longer in the list, so nothing was deleted. "
                                   "Select the entry again and delete it from there.")
                        .arg(id));
        return;
    }

    try {
        changing_ = true;
        const auto done = qScopeGuard([this] { changing_ = false; });
        catalogue_.begin();
        const QString sql = store::buildDelete(id);
        emit statementIssued(sql);
        snapshot_->deleteEntry(catalogue_, sql, id);
        catalogue_.end();
    } catch (const store::DbError& error) {
        catalogue_.end();
        reportFailure(QStringLiteral("delete the entry from"), error);
        runDeferred();
        return;
    }
    ListView1->removeItem(row);
    runDeferred();
}

}  // namespace kalvero::window
