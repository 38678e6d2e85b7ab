// Handling entries on the real window: the list's keys (with a stand-in
// player), what a drag out of the list offers, and rows whose file is missing.

#include "playback/playercommand.h"
#include "testsupport.h"
#include "window/filedrag.h"
#include "window/fileexistence.h"
#include "window/listview1.h"

#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QToolTip>
#include <QtTest>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

class HandlingTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void keysOnTheList_data();
    void keysOnTheList();
    void findGoesToTheNameBox();
    void dragOffersTheFiles_data();
    void dragOffersTheFiles();
    void missingFilesAreDrawnApart();

private:
    void openWindow(const QList<Entry>& rows);

    std::unique_ptr<test::IsolatedSettings> settings_;
    std::unique_ptr<TempProgramFolder> folder_;
    std::shared_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<window::Form1> form_;
    QStringList played_;
};

void HandlingTest::init() {
    settings_ = std::make_unique<test::IsolatedSettings>();
    folder_ = std::make_unique<TempProgramFolder>();
    dialogs_ = std::make_shared<ScriptedDialogs>();
    played_.clear();
}

void HandlingTest::cleanup() {
    form_.reset();
    folder_.reset();
    settings_.reset();
}

void HandlingTest::openWindow(const QList<Entry>& rows) {
    folder_->createCatalogue(rows);
    window::Form1Services services;
    services.launcher = playback::Launcher([this](const playback::PlayerCommand& command) {
        played_ << command.arguments.join(QLatin1Char('|'));
        return true;
    });
    form_ = test::makeForm(*folder_, dialogs_, services);
    form_->show();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->list()->setFocus();
}

void HandlingTest::keysOnTheList_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("played");   // position played, 0: none
    QTest::addColumn<int>("deleted");  // position deleted, 0: none
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("menu");
    const int none = Qt::NoModifier;
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    QTest::newRow("Space plays the first selected")
        << int(Qt::Key_Space) << none << QList<int>{3, 2} << yes << 2 << 0 << false << false;
    QTest::newRow("Enter plays") << int(Qt::Key_Return) << none << QList<int>{4} << yes << 4 << 0
                                 << false << false;
    QTest::newRow("keypad Enter plays") << int(Qt::Key_Enter) << int(Qt::KeypadModifier)
                                        << QList<int>{1} << yes << 1 << 0 << false << false;
    QTest::newRow("Space with nothing selected")
        << int(Qt::Key_Space) << none << QList<int>{} << yes << 0 << 0 << false << false;
    QTest::newRow("Down moves and plays nothing")
        << int(Qt::Key_Down) << none << QList<int>{1} << yes << 0 << 0 << false << false;
    QTest::newRow("Delete, Yes") << int(Qt::Key_Delete) << none << QList<int>{3} << yes << 0 << 3
                                 << true << false;
    QTest::newRow("Delete of several, Yes: the last selected, as the tag says")
        << int(Qt::Key_Delete) << none << QList<int>{2, 4} << yes << 0 << 4 << true << false;
    QTest::newRow("Delete, No") << int(Qt::Key_Delete) << none << QList<int>{3} << no << 0 << 0
                                << true << false;
    QTest::newRow("Delete with nothing selected")
        << int(Qt::Key_Delete) << none << QList<int>{} << yes << 0 << 0 << false << false;
    QTest::newRow("Menu key") << int(Qt::Key_Menu) << none << QList<int>{4} << yes << 0 << 0
                              << false << true;
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << QList<int>{2} << yes
                               << 0 << 0 << false << true;
    QTest::newRow("Menu key, nothing selected")
        << int(Qt::Key_Menu) << none << QList<int>{} << yes << 0 << 0 << false << true;
}

void HandlingTest::keysOnTheList() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QList<int>, selected);
    QFETCH(int, answer);
    QFETCH(int, played);
    QFETCH(int, deleted);
    QFETCH(bool, asked);
    QFETCH(bool, menu);

    openWindow(
        {{0, QStringLiteral("Bark"), QStringLiteral("/s/dog bark.wav"), {}, {}},
         {0, QStringLiteral("Ёж"), QStringLiteral("/звуки/it's \"a\"::b 100%_.flac"), {}, {}},
         {0, QStringLiteral("Bell"), QStringLiteral("  /音声/🎵 bell.ogg  "), {}, {}},
         {0, QStringLiteral("Nothing"), QString(), {}, {}}});
    window::ListView1* list = form_->list();
    QCOMPARE(list->count(), 4);
    const QList<qint64> idsBefore = test::listedIds(*form_);
    for (int position : selected) list->selectItem(position, true);
    QCOMPARE(form_->selectionTag(), QString());
    dialogs_->answers.push_back(QMessageBox::StandardButton(answer));
    auto* rmenu = form_->findChild<QMenu*>(QStringLiteral("Rmenu"));

    QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    const QString token = QLatin1String(playback::kAccessToken);
    QCOMPARE(played_,
             played ? QStringList{test::rowTexts(*form_, played)[2] + QStringLiteral("::") + token}
                    : QStringList{});
    QCOMPARE(dialogs_->messages.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(dialogs_->messages[0].title, QStringLiteral("Kalvero"));
        QCOMPARE(dialogs_->messages[0].text,
                 QStringLiteral("Are you sure you want to delete this item?"));
        const int last = *std::max_element(selected.begin(), selected.end());
        QCOMPARE(form_->selectionTag(), QStringLiteral("%1-%2").arg(idsBefore[last - 1]).arg(last));
    }
    QList<qint64> idsAfter = idsBefore;
    if (deleted) idsAfter.removeAt(deleted - 1);
    QCOMPARE(test::listedIds(*form_), idsAfter);
    QCOMPARE(folder_->countRows(), qint64(idsAfter.size()));
    if (key == Qt::Key_Down) QVERIFY(test::isSelected(list, 2) && !test::isSelected(list, 1));

    QCOMPARE(rmenu->isVisible(), menu);
    if (menu) {
        // At the selected row, whose tag it carries; at the list's corner without one.
        const int row = selected.isEmpty() ? 0 : selected.last();
        const QRect rowRect = row ? list->visualRect(list->rows()->index(row - 1, 1))
                                  : QRect(list->viewport()->rect().topLeft(), QSize(1, 1));
        const QPoint at = list->viewport()->mapFromGlobal(rmenu->pos());
        QVERIFY2(std::abs(at.y() - rowRect.bottom()) <= 2, qPrintable(QString::number(at.y())));
        QCOMPARE(form_->selectionTag(),
                 row ? QStringLiteral("%1-%2").arg(idsBefore[row - 1]).arg(row) : QString());
        rmenu->hide();
    }
}

void HandlingTest::findGoesToTheNameBox() {
    openWindow({});
    auto* name = form_->findChild<QLineEdit*>(QStringLiteral("Text5"));
    auto* bar = form_->findChild<QGroupBox*>(QStringLiteral("Frameqq2"));
    auto* showBar = form_->findChild<QAction*>(QStringLiteral("ShowSearchBar"));
    // Hidden (as it starts): there is nowhere to go.
    QVERIFY(!bar->isVisible());
    QTest::keyClick(form_->list(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), form_->list());

    showBar->trigger();
    QVERIFY(bar->isVisible());
    form_->list()->setFocus();
    name->setText(QStringLiteral("old 'text' ü"));
    QTest::keyClick(form_->list(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), name);
    QCOMPARE(name->selectedText(), name->text());
}

void HandlingTest::dragOffersTheFiles_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("files");  // what the URI list names
    QTest::addColumn<QString>("text");       // null: nothing to drag; empty: no text
    const QString hostile = QStringLiteral("/звуки/it's \"a\" 100%_ #1?.wav");
    QTest::newRow("one file, hostile name")
        << QStringList{hostile} << QStringList{hostile} << hostile;
    QTest::newRow("two files, in order")
        << QStringList{QStringLiteral("/b/2.wav"), QStringLiteral("/a/音 1.wav")}
        << QStringList{QStringLiteral("/b/2.wav"), QStringLiteral("/a/音 1.wav")}
        << QStringLiteral("/b/2.wav\n/a/音 1.wav");
    QTest::newRow("a relative path is text only")
        << QStringList{QStringLiteral("sounds/x.wav"), QStringLiteral("/y.wav")}
        << QStringList{QStringLiteral("/y.wav")} << QStringLiteral("sounds/x.wav\n/y.wav");
    QTest::newRow("empty paths are left out")
        << QStringList{QString(), QStringLiteral("/z.wav")} << QStringList{QStringLiteral("/z.wav")}
        << QStringLiteral("/z.wav");
    QTest::newRow("nothing to drag") << QStringList{QString()} << QStringList{} << QString();
    // A reader of the text could not tell where these paths end.
    const QStringList broken{QStringLiteral("/a/b\nc.wav"), QStringLiteral("/d\r\n.wav"),
                             QStringLiteral("/e\u2028.wav")};
    QTest::newRow("line breaks keep paths out of the text")
        << broken + QStringList{QStringLiteral("/f.wav")}
        << broken + QStringList{QStringLiteral("/f.wav")} << QStringLiteral("/f.wav");
    QTest::newRow("only line breaks: no text") << broken << broken << QStringLiteral("");
}

void HandlingTest::dragOffersTheFiles() {
    QFETCH(QStringList, paths);
    QFETCH(QStringList, files);
    QFETCH(QString, text);
    std::unique_ptr<QMimeData> mime(window::fileDragData(paths));
    QCOMPARE(mime == nullptr, text.isNull());
    if (!mime) return;
    QCOMPARE(mime->hasFormat(QStringLiteral("text/plain")), !text.isEmpty());
    if (!text.isEmpty()) QCOMPARE(mime->text(), text);
    QCOMPARE(mime->hasFormat(QStringLiteral("text/uri-list")), !files.isEmpty());
    QCOMPARE(mime->data(QStringLiteral("text/uri-list")).count('\n'), files.size());
    QStringList named;
    for (const QUrl& url : mime->urls()) named << url.toLocalFile();
    QCOMPARE(named, files);
}

void HandlingTest::missingFilesAreDrawnApart() {
    QTemporaryDir sounds;
    const QString present = sounds.filePath(QStringLiteral("present 'ü' 音.wav"));
    const QString later = sounds.filePath(QStringLiteral("later \"q\" 100%.wav"));
    QFile(present).open(QIODevice::WriteOnly);
    QList<Entry> rows{{0, QStringLiteral("Here"), present, {}, {}},
                      {0, QStringLiteral("Gone"), later, {}, {}},
                      {0, QStringLiteral("No path"), QString(), {}, {}},
                      {0, QStringLiteral("A folder"), sounds.path(), {}, {}}};
    // Many more rows than the list shows: only the drawn ones are looked at.
    for (int i = 0; i < 3000; ++i)
        rows.append({0, QStringLiteral("n%1").arg(i), sounds.filePath(QString::number(i)), {}, {}});
    openWindow(rows);
    window::ListView1* list = form_->list();
    window::MissingFileDelegate* delegate = list->fileStates();
    auto index = [list](int position, int column) {
        return list->rows()->index(position - 1, column);
    };
    QTRY_VERIFY(delegate->isMissing(index(2, 1)));
    QVERIFY(delegate->isMissing(index(3, 2)));
    QVERIFY(delegate->isMissing(index(4, 2)));
    QVERIFY(!delegate->isMissing(index(1, 2)));
    QVERIFY2(delegate->existence()->askedCount() < 200,
             qPrintable(QString::number(delegate->existence()->askedCount())));

    const QPalette palette = list->palette();
    const QColor disabled = palette.color(QPalette::Disabled, QPalette::Text);
    QVERIFY(disabled != palette.color(QPalette::Active, QPalette::Text));
    auto style = [&](int position, int column) {
        QStyleOptionViewItem option;
        option.palette = palette;
        option.font = list->font();
        delegate->initStyleOption(&option, index(position, column));
        return option;
    };
    QCOMPARE(style(2, 1).palette.color(QPalette::Text), disabled);
    QVERIFY(!style(2, 1).font.italic());
    QVERIFY(style(2, 2).font.italic());
    QCOMPARE(style(1, 2).palette.color(QPalette::Text), palette.color(QPalette::Text));
    QVERIFY(!style(1, 2).font.italic());
    QCOMPARE(style(1, 2).text, present);  // nothing else about a row changes

    auto toolTipAt = [list](const QModelIndex& cell) {
        QToolTip::hideText();
        const QPoint at = list->visualRect(cell).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &help);
        return QToolTip::text();
    };
    QCOMPARE(toolTipAt(index(2, 1)), QStringLiteral("File not found"));
    QCOMPARE(toolTipAt(index(1, 2)), present);

    // Answers hold for one load: the file that appears shows as present after the next.
    QFile(later).open(QIODevice::WriteOnly);
    QVERIFY(delegate->isMissing(index(2, 1)));
    form_->SearchData1(1);
    QTRY_VERIFY(!delegate->isMissing(index(2, 1)) &&
                delegate->existence()->state(later) == window::FileExistence::State::Present);
}

QTEST_MAIN(HandlingTest)
#include "tst_handling.moc"
