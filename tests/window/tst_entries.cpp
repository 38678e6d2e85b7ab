// The entry panel and the list's context menu against real encrypted
// catalogues: Add stores exactly what was typed, Clear and Browse, dropped
// files, the selection tag and the popup, Edit Entry, Delete It? (including
// tags that no longer name the row the user sees), and failing catalogues.

#include "testsupport.h"
#include "window/filedrag.h"
#include "window/listview1.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

Q_DECLARE_METATYPE(QList<int>)

namespace {

const QString kBoxes[] = {QStringLiteral("Text1"), QStringLiteral("Text2"), QStringLiteral("Text3"),
                          QStringLiteral("Text4")};

QLineEdit* box(const window::Form1& form, int k) {
    auto* edit = form.findChild<QLineEdit*>(kBoxes[k]);
    Q_ASSERT(edit);
    return edit;
}

QStringList panelTexts(const window::Form1& form) {
    QStringList out;
    for (int k = 0; k < 4; ++k) out << box(form, k)->text();
    return out;
}

void setPanel(window::Form1& form, const QStringList& texts) {
    for (int k = 0; k < 4; ++k) box(form, k)->setText(texts.value(k));
}

QMenu* rmenu(const window::Form1& form) { return form.findChild<QMenu*>(QStringLiteral("Rmenu")); }

QAction* action(const window::Form1& form, const char* name) {
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

QString doubled(QString text) { return text.replace(QLatin1Char('\''), QLatin1String("''")); }

QStringList issued(const QSignalSpy& spy) {
    QStringList out;
    for (const auto& args : spy) out << args.at(0).toString();
    return out;
}

QStringList selects(const QSignalSpy& spy) {
    QStringList out;
    for (const QString& sql : issued(spy))
        if (sql.startsWith(QLatin1String("select"))) out << sql;
    return out;
}

// The stored type of each text column of one row: "text" or "null".
QStringList storedTypes(const TempProgramFolder& folder, qint64 id) {
    store::Connection c = store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READONLY);
    store::Statement st(c,
                        "SELECT typeof(NameData), typeof(FilePath), typeof(Category), "
                        "typeof(DescriptionData) FROM SoundData WHERE ID = " +
                            QByteArray::number(id));
    QStringList out;
    if (st.step())
        for (int k = 0; k < 4; ++k) out << QString::fromUtf8(st.textBytes(k));
    return out;
}

QList<qint64> idsOf(const QList<Entry>& entries) {
    QList<qint64> ids;
    for (const Entry& e : entries) ids << e.id;
    return ids;
}

// Entries whose IDs do not match their positions and whose name order differs
// from their ID order, with text that would break a careless statement.
QList<Entry> fiveEntries() {
    return {{3, QStringLiteral("Echo"), QStringLiteral("/s/echo.wav"), QStringLiteral("Hall"),
             QStringLiteral("it's loud")},
            {8, QStringLiteral("Bell"), QStringLiteral("C:\\Sounds\\bell.wav"), QString(),
             QStringLiteral("door")},
            {17, QStringLiteral("Drum 'n' bass"), QStringLiteral("/s/drum;--.ogg"),
             QStringLiteral("100% _music_"), QStringLiteral("\"loud\"")},
            {40, QStringLiteral("Applause"), QStringLiteral("/s/Ω/applause.flac"),
             QStringLiteral("Люди"), QStringLiteral("拍手 👏")},
            {41, QStringLiteral("Cymbal"), QStringLiteral("/s/cymbal.wav"), QStringLiteral(""),
             QStringLiteral("")}};
}

QPoint rowPoint(const window::Form1& form, int position) {
    window::ListView1* list = form.list();
    const QModelIndex index = list->model()->index(position - 1, 1);
    list->scrollTo(index);
    return list->visualRect(index).center();
}

// Presses a mouse button over a list row (0: below the last row), as the user
// would, and closes the context menu if it opened. Returns whether it opened.
bool pressList(window::Form1& form, Qt::MouseButton button, int position,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    window::ListView1* list = form.list();
    const QPoint at = position > 0
                          ? rowPoint(form, position)
                          : QPoint(list->viewport()->width() / 2, list->viewport()->height() - 4);
    QTest::mousePress(list->viewport(), button, modifiers, at);
    QMenu* menu = rmenu(form);
    const bool opened = menu->isVisible();
    if (opened) {
        menu->close();
        if (QTest::currentTestFailed()) return opened;
    }
    QTest::mouseRelease(list->viewport(), button, modifiers, at);
    return opened;
}

QString tagFor(const window::Form1& form, int position) {
    return form.list()->itemText(position) + QLatin1Char('-') + QString::number(position);
}

std::unique_ptr<window::Form1> shownForm(const TempProgramFolder& folder,
                                         std::shared_ptr<ScriptedDialogs> dialogs) {
    auto form = test::makeForm(folder, std::move(dialogs));
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
    return form;
}

}  // namespace

class EntriesTest : public QObject {
    Q_OBJECT
private slots:
    void init() { settings_ = std::make_unique<test::IsolatedSettings>(); }
    void cleanup() { settings_.reset(); }

    void addStoresTextAsTyped_data();
    void addStoresTextAsTyped();
    void emptyFileBoxIsRefused_data();
    void emptyFileBoxIsRefused();
    void unstorableTextIsRefused_data();
    void unstorableTextIsRefused();
    void clearEmptiesPanelAndReloads();
    void browseFillsFileBox_data();
    void browseFillsFileBox();
    void browseDialogGoesWithItsWindow();
    void droppedFileFillsFileBox_data();
    void droppedFileFillsFileBox();
    void mousePressRecordsTag_data();
    void mousePressRecordsTag();
    void rightPressOverEmptyListOpensMenu();
    void editEntryCopiesFirstSelected_data();
    void editEntryCopiesFirstSelected();
    void editThenAddAddsSecondEntry();
    void deleteAsksThenRemovesEntryAndRow_data();
    void deleteAsksThenRemovesEntryAndRow();
    void deleteActsOnlyOnEntryShown_data();
    void deleteActsOnlyOnEntryShown();
    void deleteBeyond16BitPositions();
    void failingCatalogueKeepsEverything_data();
    void failingCatalogueKeepsEverything();

private:
    std::unique_ptr<test::IsolatedSettings> settings_;
};

void EntriesTest::addStoresTextAsTyped_data() {
    QTest::addColumn<QStringList>("panel");
    // Over a megabyte of UTF-8, with quotes inside and at the end.
    const QString mb = QString(512 * 1024, QChar(u'é')) + QStringLiteral("'") +
                       QString(256 * 1024, QLatin1Char('x')) + QStringLiteral("'");
    QTest::newRow("O'Neil's") << QStringList{QStringLiteral("O'Neil's"), QStringLiteral("O'Neil's"),
                                             QStringLiteral("O'Neil's"),
                                             QStringLiteral("O'Neil's")};
    QTest::newRow("quotes in every place")
        << QStringList{QStringLiteral("'"), QStringLiteral("''/a''b.wav''"),
                       QStringLiteral("'lead"), QStringLiteral("trail'")};
    QTest::newRow("statement breakers") << QStringList{
        QStringLiteral("x'); delete from SoundData; --"), QStringLiteral("/s/a;b--c.wav"),
        QStringLiteral("-- comment"), QStringLiteral("');drop table SoundData;--")};
    QTest::newRow("wildcards") << QStringList{QStringLiteral("100%"), QStringLiteral("/s/_%_.wav"),
                                              QStringLiteral("%"), QStringLiteral("_")};
    QTest::newRow("backslashes and double quotes")
        << QStringList{QStringLiteral("\"quoted\""), QStringLiteral("C:\\Sounds\\new\\t.wav"),
                       QStringLiteral("\\'\\"), QStringLiteral("say \"hi\"\\n")};
    QTest::newRow("leading and trailing blanks")
        << QStringList{QStringLiteral("  bell  "), QStringLiteral(" /s/bell.wav "),
                       QStringLiteral("\t"), QStringLiteral("   ")};
    QTest::newRow("accents") << QStringList{QStringLiteral("Éléphant à l'eau"),
                                            QStringLiteral("/snd/Ärger/ça.wav"),
                                            QStringLiteral("Straße"), QStringLiteral("ñandú")};
    QTest::newRow("cyrillic") << QStringList{QStringLiteral("Звонок в дверь"),
                                             QStringLiteral("/звуки/звонок.wav"),
                                             QStringLiteral("Дом"), QStringLiteral("громкий'")};
    QTest::newRow("cjk") << QStringList{QStringLiteral("鐘の音"), QStringLiteral("/音/鐘.wav"),
                                        QStringLiteral("日本"), QStringLiteral("钟声")};
    QTest::newRow("emoji") << QStringList{QStringLiteral("🔔 bell 👍🏽"),
                                          QStringLiteral("/s/🔔.wav"), QStringLiteral("🎵"),
                                          QStringLiteral("👨‍👩‍👧 family")};
    QTest::newRow("1 MB name") << QStringList{mb, QStringLiteral("/s/long.wav"), QString(),
                                              QStringLiteral("long")};
}

void EntriesTest::addStoresTextAsTyped() {
    QFETCH(QStringList, panel);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    setPanel(*form, panel);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);

    form->Command1_Click();

    QVERIFY2(dialogs->messages.isEmpty(), qPrintable(dialogs->messages.value(0).text));
    const QStringList sql = issued(spy);
    QCOMPARE(sql.size(), 2);
    const QString expected =
        QStringLiteral(
            "insert into SoundData (NameData, FilePath, Category, DescriptionData)  "
            "values ('") +
        doubled(panel[0]) + QStringLiteral("','") + doubled(panel[1]) + QStringLiteral("','") +
        doubled(panel[2]) + QStringLiteral("','") + doubled(panel[3]) + QStringLiteral("')");
    QCOMPARE(sql[0].size(), expected.size());
    QVERIFY(sql[0] == expected);
    // Then the list is reloaded, sorted by the first column.
    QVERIFY(sql[1].startsWith(QLatin1String("select ")));
    QVERIFY(sql[1].endsWith(QLatin1String(" order by 1")));

    const QList<Entry> after = folder.readEntries();
    QCOMPARE(after.size(), before.size() + 1);
    QCOMPARE(after.mid(0, before.size()), before);
    const Entry& added = after.last();
    QVERIFY(added.id > before.last().id);
    for (int k = 0; k < 4; ++k) {
        const QString stored =
            QStringList{added.name, added.file, added.category, added.description}[k];
        QVERIFY2(stored.toUtf8() == panel[k].toUtf8(), qPrintable(kBoxes[k]));
    }
    QCOMPARE(storedTypes(folder, added.id), QStringList(4, QStringLiteral("text")));

    // The panel is emptied and the new entry shows at the end of the list.
    QCOMPARE(panelTexts(*form), QStringList(4, QString()));
    QCOMPARE(form->list()->count(), before.size() + 1);
    const QStringList shown = test::rowTexts(*form, form->list()->count());
    QCOMPARE(shown.value(0), QString::number(added.id));
    QVERIFY(shown.mid(1) == panel);
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
}

void EntriesTest::emptyFileBoxIsRefused_data() {
    QTest::addColumn<QStringList>("panel");
    QTest::addColumn<bool>("stored");
    QTest::newRow("all empty") << QStringList(4, QString()) << false;
    QTest::newRow("others filled") << QStringList{QStringLiteral("O'Neil's"), QString(),
                                                  QStringLiteral("Кат"), QStringLiteral("🔔 %_")}
                                   << false;
    QTest::newRow("only file box")
        << QStringList{QString(), QStringLiteral("/s/only.wav"), QString(), QString()} << true;
    QTest::newRow("file box of blanks")
        << QStringList{QStringLiteral("n"), QStringLiteral("   "), QString(), QString()} << true;
    QTest::newRow("file box of one blank")
        << QStringList{QString(), QStringLiteral(" "), QString(), QString()} << true;
}

void EntriesTest::emptyFileBoxIsRefused() {
    QFETCH(QStringList, panel);
    QFETCH(bool, stored);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    form->list()->selectItem(2);
    setPanel(*form, panel);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    QSignalSpy loads(form.get(), &window::Form1::loadFinished);

    form->Command1_Click();

    const QList<Entry> after = folder.readEntries();
    if (!stored) {
        QCOMPARE(dialogs->messages.size(), 1);
        const ScriptedDialogs::Message& m = dialogs->messages[0];
        QCOMPARE(m.text, QStringLiteral("Could you please enter the file name for a sound file."));
        QCOMPARE(m.title, QStringLiteral("Kalvero 2.1"));
        QCOMPARE(m.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(m.icon, QMessageBox::NoIcon);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(loads.count(), 0);
        QCOMPARE(after, before);
        QCOMPARE(panelTexts(*form), panel);
        QVERIFY(test::isSelected(form->list(), 2));  // no reload cleared it
        return;
    }
    QCOMPARE(dialogs->messages.size(), 0);
    QCOMPARE(after.size(), before.size() + 1);
    QCOMPARE(after.mid(0, before.size()), before);
    const Entry& added = after.last();
    QCOMPARE(added.file.toUtf8(), panel[1].toUtf8());
    QVERIFY(added.name == panel[0] && added.category.isEmpty() && added.description.isEmpty());
    // Empty boxes are stored as empty texts, never as NULL.
    QCOMPARE(storedTypes(folder, added.id), QStringList(4, QStringLiteral("text")));
    QCOMPARE(loads.count(), 1);
}

void EntriesTest::unstorableTextIsRefused_data() {
    QTest::addColumn<int>("boxIndex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");
    const QChar nul(0);
    const QChar loneHigh(0xD83D);
    const QChar loneLow(0xDC36);
    QTest::newRow("NUL in the name")
        << 0 << (QStringLiteral("a") + nul + QStringLiteral("b")) << QStringLiteral("Name");
    QTest::newRow("NUL alone in the file box") << 1 << QString(nul) << QStringLiteral("Sound File");
    QTest::newRow("lone high surrogate in the category")
        << 2 << (QStringLiteral("x") + loneHigh) << QStringLiteral("Category");
    QTest::newRow("lone low surrogate first in the description")
        << 3 << (QString(loneLow) + QStringLiteral("y")) << QStringLiteral("Description");
}

void EntriesTest::unstorableTextIsRefused() {
    QFETCH(int, boxIndex);
    QFETCH(QString, text);
    QFETCH(QString, label);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QStringList panel{QStringLiteral("n"), QStringLiteral("/s/f.wav"), QStringLiteral("c"),
                      QStringLiteral("d")};
    panel[boxIndex] = text;
    setPanel(*form, panel);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);

    form->Command1_Click();

    // Refused in plain words, nothing half stored, nothing typed lost.
    QCOMPARE(dialogs->messages.size(), 1);
    QVERIFY2(dialogs->messages[0].text.contains(QLatin1Char('"') + label + QLatin1Char('"')),
             qPrintable(dialogs->messages[0].text));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(folder.readEntries(), before);
    QCOMPARE(panelTexts(*form), panel);
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    // A good pair of surrogates is stored like any other text.
    panel[boxIndex] = QStringLiteral("ok 🐶");
    setPanel(*form, panel);
    form->Command1_Click();
    QCOMPARE(dialogs->messages.size(), 1);
    QCOMPARE(folder.countRows(), before.size() + 1);
}

void EntriesTest::clearEmptiesPanelAndReloads() {
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    // Another program adds an entry; Clear shows it, even on an empty panel.
    folder.insertRows(
        {{0, QStringLiteral("Later"), QStringLiteral("/s/later.wav"), QString(), QString()}});
    for (const QStringList& panel :
         {QStringList(4, QString()), QStringList{QStringLiteral("a'"), QStringLiteral("/b"),
                                                 QStringLiteral("c"), QStringLiteral("d")}}) {
        setPanel(*form, panel);
        QSignalSpy spy(form.get(), &window::Form1::statementIssued);
        form->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        QCOMPARE(panelTexts(*form), QStringList(4, QString()));
        QCOMPARE(selects(spy).size(), 1);
        QCOMPARE(test::listedIds(*form), idsOf(folder.readEntries()));
        QCOMPARE(form->list()->count(), 6);
    }
    QVERIFY(dialogs->messages.isEmpty());
}

void EntriesTest::browseFillsFileBox_data() {
    QTest::addColumn<QStringList>("answers");  // a null text is a cancel
    QTest::addColumn<QString>("expected");
    const QString typed = QStringLiteral("typed by hand");
    QTest::newRow("pick") << QStringList{QStringLiteral("/home/zoë/Звуки/a b'c 🔔.wav")}
                          << QStringLiteral("/home/zoë/Звуки/a b'c 🔔.wav");
    QTest::newRow("cancel") << QStringList{QString()} << typed;
    QTest::newRow("pick then cancel")
        << QStringList{QStringLiteral("/s/first.wav"), QString()} << QStringLiteral("/s/first.wav");
    QTest::newRow("two picks") << QStringList{QStringLiteral("/s/first.wav"),
                                              QStringLiteral("/s/100%_second.wav")}
                               << QStringLiteral("/s/100%_second.wav");
}

void EntriesTest::browseFillsFileBox() {
    QFETCH(QStringList, answers);
    QFETCH(QString, expected);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QStringList panel{QStringLiteral("n'1"), QStringLiteral("typed by hand"),
                            QStringLiteral("c"), QStringLiteral("d")};
    setPanel(*form, panel);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    for (const QString& answer : answers) {
        dialogs->files.push_back(answer);
        form->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    }
    QCOMPARE(dialogs->fileDialogs, answers.size());
    QStringList want = panel;
    want[1] = expected;
    QCOMPARE(panelTexts(*form), want);
    QCOMPARE(spy.count(), 0);
    QVERIFY(dialogs->messages.isEmpty());
}

void EntriesTest::browseDialogGoesWithItsWindow() {
    // The dialogs object can outlive the window the dialog was opened over:
    // the dialog goes with the window, is made again for the next one, and
    // nothing is deleted twice.
    auto dialogs = std::make_shared<window::UserDialogs>();
    for (int round = 0; round < 2; ++round) {
        auto window = std::make_unique<QWidget>();
        QTimer::singleShot(0, window.get(), [&window] {
            if (auto* d = window->findChild<QFileDialog*>(QStringLiteral("CommonDialog1")))
                d->reject();
        });
        QVERIFY(!dialogs->openFileName(window.get()));
        QVERIFY(window->findChild<QFileDialog*>(QStringLiteral("CommonDialog1")));
        window.reset();
    }
    dialogs.reset();
}

void EntriesTest::droppedFileFillsFileBox_data() {
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");      // plain text carried besides the URLs
    QTest::addColumn<QString>("expected");  // null: the drop is refused
    QTest::addColumn<QString>("target");    // the box dropped on; empty: the window
    QTest::addColumn<QStringList>("rows");  // paths of rows dragged out of the list
    const QString file = QStringLiteral("/tmp/Звуки/zoë's 100% 🔔.wav");
    QTest::newRow("local file") << QList<QUrl>{QUrl::fromLocalFile(file)} << QString() << file
                                << QString() << QStringList{};
    QTest::newRow("local file onto the name box")
        << QList<QUrl>{QUrl::fromLocalFile(file)} << QString() << file << QStringLiteral("Text1")
        << QStringList{};
    QTest::newRow("local file onto a search box")
        << QList<QUrl>{QUrl::fromLocalFile(file)} << file << file << QStringLiteral("Text5")
        << QStringList{};
    QTest::newRow("web address first")
        << QList<QUrl>{QUrl(QStringLiteral("https://example.org/a.wav")), QUrl::fromLocalFile(file)}
        << QString() << file << QString() << QStringList{};
    QTest::newRow("only web address")
        << QList<QUrl>{QUrl(QStringLiteral("https://example.org/a.wav"))} << QString() << QString()
        << QString() << QStringList{};
    QTest::newRow("plain text") << QList<QUrl>{} << QStringLiteral("/s/text.wav") << QString()
                                << QString() << QStringList{};
    const QStringList rows{file, QStringLiteral("/s/b")};
    QTest::newRow("a row of ours")
        << QList<QUrl>{} << QString() << QString() << QString() << rows.mid(0, 1);
    QTest::newRow("two rows of ours: no import")
        << QList<QUrl>{} << QString() << QString() << QString() << rows;
    QTest::newRow("a row of ours onto a search box")
        << QList<QUrl>{} << QString() << QString() << QStringLiteral("Text5") << rows.mid(0, 1);
}

void EntriesTest::droppedFileFillsFileBox() {
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QString, target);
    QFETCH(QStringList, rows);
    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QStringList panel{QStringLiteral("n"), QStringLiteral("before"), QString(), QString()};
    setPanel(*form, panel);
    QObject* receiver = form.get();
    if (!target.isEmpty()) receiver = form->findChild<QLineEdit*>(target);
    QVERIFY(receiver);

    std::unique_ptr<QMimeData> mime(rows.isEmpty() ? new QMimeData : window::fileDragData(rows));
    if (!urls.isEmpty()) mime->setUrls(urls);
    if (!text.isNull()) mime->setText(text);
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &enter);
    QCOMPARE(enter.isAccepted(), !expected.isNull());
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &drop);
    QCoreApplication::processEvents();  // an import would start now

    QStringList want = panel;
    if (!expected.isNull()) want[1] = expected;
    QCOMPARE(panelTexts(*form), want);
    QVERIFY(form->findChild<QLineEdit*>(QStringLiteral("Text5"))->text().isEmpty());
    QVERIFY(dialogs->messages.isEmpty());
}

void EntriesTest::mousePressRecordsTag_data() {
    QTest::addColumn<QList<int>>("selected");  // selected before the press
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("row");     // where the press lands; 0 below the rows
    QTest::addColumn<int>("tagRow");  // the row the tag names after; 0 unchanged
    QTest::addColumn<bool>("menu");
    const int left = Qt::LeftButton, right = Qt::RightButton, middle = Qt::MiddleButton;
    const int none = Qt::NoModifier, ctrl = Qt::ControlModifier;
    QTest::newRow("right on row 2 of rows 2 and 5")
        << QList<int>{2, 5} << right << none << 2 << 5 << true;
    QTest::newRow("right on row 5 of rows 2 and 5")
        << QList<int>{2, 5} << right << none << 5 << 5 << true;
    QTest::newRow("ctrl-left adds row 5 to row 2")
        << QList<int>{2} << left << ctrl << 5 << 5 << false;
    QTest::newRow("ctrl-left adds row 1 to row 4")
        << QList<int>{4} << left << ctrl << 1 << 4 << false;
    QTest::newRow("left on row 3") << QList<int>{} << left << none << 3 << 3 << false;
    QTest::newRow("right on unselected row 4") << QList<int>{1} << right << none << 4 << 4 << true;
    QTest::newRow("middle on selected row 3") << QList<int>{3} << middle << none << 3 << 3 << false;
    QTest::newRow("right with nothing selected, below rows")
        << QList<int>{} << right << none << 0 << 0 << true;
    QTest::newRow("left with nothing selected, below rows")
        << QList<int>{} << left << none << 0 << 0 << false;
}

void EntriesTest::mousePressRecordsTag() {
    QFETCH(QList<int>, selected);
    QFETCH(int, button);
    QFETCH(int, modifiers);
    QFETCH(int, row);
    QFETCH(int, tagRow);
    QFETCH(bool, menu);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = shownForm(folder, dialogs);
    form->resize(form->width(), 600);  // room below the rows
    window::ListView1* list = form->list();
    QCOMPARE(list->count(), 5);

    // An earlier press recorded the last row; the press under test replaces
    // that tag only when it finds a selected row.
    list->selectItem(5);
    QVERIFY(!pressList(*form, Qt::LeftButton, 5));
    const QString earlier = tagFor(*form, 5);
    QCOMPARE(form->selectionTag(), earlier);
    list->clearSelectionFlags();
    for (int position : selected) list->selectItem(position, true);

    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    const QStringList panel = panelTexts(*form);
    const bool opened = pressList(*form, static_cast<Qt::MouseButton>(button), row,
                                  Qt::KeyboardModifiers(modifiers));
    QCOMPARE(opened, menu);
    QCOMPARE(form->selectionTag(), tagRow > 0 ? tagFor(*form, tagRow) : earlier);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(panelTexts(*form), panel);
    QVERIFY(dialogs->messages.isEmpty());
}

void EntriesTest::rightPressOverEmptyListOpensMenu() {
    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = shownForm(folder, dialogs);
    QCOMPARE(form->list()->count(), 0);
    QVERIFY(pressList(*form, Qt::RightButton, 0));
    QCOMPARE(form->selectionTag(), QString());
    QVERIFY(!pressList(*form, Qt::LeftButton, 0));
    QVERIFY(!pressList(*form, Qt::MiddleButton, 0));
    QCOMPARE(form->selectionTag(), QString());

    // Delete It? with no tag yet: asks, then deletes nothing and says nothing more.
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    action(*form, "DeleteMenu")->trigger();
    QCOMPARE(dialogs->messages.size(), 1);
    QCOMPARE(spy.count(), 0);
}

void EntriesTest::editEntryCopiesFirstSelected_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("copied");  // 0: nothing copied
    QTest::newRow("one row") << QList<int>{3} << 3;
    QTest::newRow("rows 4 and 2 take 2") << QList<int>{4, 2} << 2;
    QTest::newRow("rows 5 and 1 take 1") << QList<int>{5, 1} << 1;
    QTest::newRow("row with empty texts") << QList<int>{5} << 5;
    QTest::newRow("row with a null category") << QList<int>{2} << 2;
    QTest::newRow("none") << QList<int>{} << 0;
}

void EntriesTest::editEntryCopiesFirstSelected() {
    QFETCH(QList<int>, selected);
    QFETCH(int, copied);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QStringList panel{QStringLiteral("old name"), QStringLiteral("/old.wav"),
                            QStringLiteral("old'cat"), QStringLiteral("old desc")};
    setPanel(*form, panel);
    for (int position : selected) form->list()->selectItem(position, true);
    const QList<qint64> listed = test::listedIds(*form);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);

    action(*form, "EditEntry")->trigger();

    QCOMPARE(panelTexts(*form), copied ? test::rowTexts(*form, copied).mid(1) : panel);
    if (copied) {
        const Entry& e = before[copied - 1];
        QCOMPARE(panelTexts(*form),
                 (QStringList{e.name, e.file, e.category.isNull() ? QString() : e.category,
                              e.description}));
    }
    QCOMPARE(spy.count(), 0);
    QCOMPARE(test::listedIds(*form), listed);
    QCOMPARE(folder.readEntries(), before);
    for (int position : selected) QVERIFY(test::isSelected(form->list(), position));
    QVERIFY(dialogs->messages.isEmpty());
}

void EntriesTest::editThenAddAddsSecondEntry() {
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    for (int position : {3, 4}) {
        form->list()->selectItem(position);
        action(*form, "EditEntry")->trigger();
        form->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    }
    QVERIFY(dialogs->messages.isEmpty());
    const QList<Entry> after = folder.readEntries();
    QCOMPARE(after.size(), before.size() + 2);
    QCOMPARE(after.mid(0, before.size()), before);
    for (int k : {0, 1}) {
        const Entry& copy = after[before.size() + k];
        const Entry& source = before[2 + k];
        QVERIFY(copy.id > before.last().id);
        QCOMPARE(copy.name, source.name);
        QCOMPARE(copy.file, source.file);
        QCOMPARE(copy.category, source.category);
        QCOMPARE(copy.description, source.description);
    }
    QVERIFY(after[before.size()].id != after[before.size() + 1].id);
    QCOMPARE(test::listedIds(*form), idsOf(after));
}

void EntriesTest::deleteAsksThenRemovesEntryAndRow_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("yes");
    for (int row : {1, 3, 5}) {
        QTest::addRow("row %d, yes", row) << row << true;
        QTest::addRow("row %d, no", row) << row << false;
    }
}

void EntriesTest::deleteAsksThenRemovesEntryAndRow() {
    QFETCH(int, row);
    QFETCH(bool, yes);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = shownForm(folder, dialogs);
    const QStringList panel{QStringLiteral("keep'"), QStringLiteral("/k.wav"), QString(),
                            QStringLiteral("k")};
    setPanel(*form, panel);

    // The way a user gets there: a right press on the row, then the menu item.
    QVERIFY(pressList(*form, Qt::RightButton, row));
    const QString tag = tagFor(*form, row);
    QCOMPARE(form->selectionTag(), tag);
    const qint64 id = before[row - 1].id;
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    QSignalSpy loads(form.get(), &window::Form1::loadFinished);
    dialogs->answers.push_back(yes ? QMessageBox::Yes : QMessageBox::No);
    action(*form, "DeleteMenu")->trigger();

    QCOMPARE(dialogs->messages.size(), 1);
    const ScriptedDialogs::Message& m = dialogs->messages[0];
    QCOMPARE(m.text, QStringLiteral("Are you sure you want to delete this item?"));
    QCOMPARE(m.title, QStringLiteral("Kalvero"));
    QCOMPARE(m.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(m.defaultButton, QMessageBox::Yes);
    QCOMPARE(m.icon, QMessageBox::NoIcon);

    QList<Entry> expected = before;
    if (yes) {
        expected.removeAt(row - 1);
        QCOMPARE(issued(spy), QStringList{QStringLiteral("delete from sounddata where id = ") +
                                          QString::number(id)});
    } else {
        QCOMPARE(spy.count(), 0);
    }
    QCOMPARE(folder.readEntries(), expected);
    QCOMPARE(test::listedIds(*form), idsOf(expected));  // the rest keep their order
    QCOMPARE(loads.count(), 0);
    QCOMPARE(panelTexts(*form), panel);
    QCOMPARE(form->selectionTag(), tag);
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
}

void EntriesTest::deleteActsOnlyOnEntryShown_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("pressed");   // the row whose tag is recorded
    QTest::addColumn<bool>("deletes");  // whether the remembered entry goes
    QTest::newRow("list unchanged") << QStringLiteral("none") << 3 << true;
    QTest::newRow("moved by a sort") << QStringLiteral("sort by name") << 3 << true;
    QTest::newRow("reloaded, still shown") << QStringLiteral("clear") << 4 << true;
    QTest::newRow("hidden by a filter") << QStringLiteral("filter") << 3 << false;
    QTest::newRow("deleted earlier") << QStringLiteral("delete twice") << 2 << false;
    QTest::newRow("last row deleted earlier") << QStringLiteral("delete twice") << 5 << false;
    QTest::newRow("removed elsewhere, reloaded") << QStringLiteral("other program") << 2 << false;
    QTest::newRow("no press yet") << QStringLiteral("no press") << 0 << false;
    QTest::newRow("negative ID") << QStringLiteral("negative id") << 1 << true;
}

void EntriesTest::deleteActsOnlyOnEntryShown() {
    QFETCH(QString, scenario);
    QFETCH(int, pressed);
    QFETCH(bool, deletes);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    if (scenario == QLatin1String("negative id")) {
        store::Connection c =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        c.exec(
            "insert into SoundData (ID, NameData, FilePath, Category, DescriptionData) "
            "values (-7, 'Minus', '/m-7.wav', '-', '-7-1')");
    }
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    window::ListView1* list = form->list();

    QString tag;
    if (pressed > 0) {
        list->selectItem(pressed);
        form->ListView1_MouseDown(Qt::LeftButton);
        tag = tagFor(*form, pressed);
        QCOMPARE(form->selectionTag(), tag);
    }
    const qint64 id = pressed > 0 ? list->itemText(pressed).toLongLong() : 0;

    if (scenario == QLatin1String("sort by name")) {
        form->SearchData1(2);
        QVERIFY(list->itemText(pressed).toLongLong() != id);
    } else if (scenario == QLatin1String("clear")) {
        folder.insertRows({{1, QStringLiteral("First"), QStringLiteral("/1.wav"), {}, {}}});
        form->Command2_Click();
    } else if (scenario == QLatin1String("filter")) {
        form->findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(QStringLiteral("e"));
        form->SearchData1(1);
        QVERIFY(list->count() >= pressed);
    } else if (scenario == QLatin1String("delete twice")) {
        form->DeleteMenu_Click();
        QVERIFY(folder.countRows() == 4 && list->count() == 4);
    } else if (scenario == QLatin1String("other program")) {
        store::Connection c =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        c.exec("delete from SoundData where ID = " + QByteArray::number(id));
        form->Command2_Click();
    }
    QCOMPARE(form->selectionTag(), tag);

    const QList<Entry> before = folder.readEntries();
    const QList<qint64> listed = test::listedIds(*form);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    const qsizetype messages = dialogs->messages.size();
    form->DeleteMenu_Click();

    if (!deletes && pressed > 0) {
        // The question, then word that the entry is gone from the list.
        QCOMPARE(dialogs->messages.size(), messages + 2);
        QVERIFY(dialogs->messages.last().text.contains(
            QStringLiteral("no longer in the list, so nothing was deleted")));
    } else {
        QCOMPARE(dialogs->messages.size(), messages + 1);  // the question, nothing after it
    }
    if (!deletes) {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(folder.readEntries(), before);
        QCOMPARE(test::listedIds(*form), listed);
        return;
    }
    QCOMPARE(issued(spy), QStringList{QStringLiteral("delete from sounddata where id = ") +
                                      QString::number(id)});
    QList<Entry> expected = before;
    expected.removeIf([id](const Entry& e) { return e.id == id; });
    QCOMPARE(expected.size(), before.size() - 1);
    QCOMPARE(folder.readEntries(), expected);
    QList<qint64> expectedList = listed;
    QCOMPARE(expectedList.removeAll(id), 1);
    QCOMPARE(test::listedIds(*form), expectedList);
    QCOMPARE(form->selectionTag(), tag);
}

void EntriesTest::deleteBeyond16BitPositions() {
    // Positions above 32767 name rows like any other.
    TempProgramFolder folder;
    QList<Entry> rows;
    const int total = 33000;
    rows.reserve(total);
    for (int i = 1; i <= total; ++i)
        rows.append({0, QStringLiteral("n%1").arg(i), QStringLiteral("/s/%1.wav").arg(i), {}, {}});
    folder.createCatalogue(rows);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = shownForm(folder, dialogs);
    window::ListView1* list = form->list();
    QCOMPARE(list->count(), total);

    for (int position : {32768, 32767, total - 2, 32768}) {
        QVERIFY(pressList(*form, Qt::RightButton, position));
        const QString tag = tagFor(*form, position);
        QCOMPARE(form->selectionTag(), tag);
        const QString id = list->itemText(position);
        const QString below = list->itemText(position + 1);
        const int count = list->count();
        QSignalSpy spy(form.get(), &window::Form1::statementIssued);
        action(*form, "DeleteMenu")->trigger();
        QCOMPARE(issued(spy),
                 QStringList{QStringLiteral("delete from sounddata where id = ") + id});
        QCOMPARE(list->count(), count - 1);
        QCOMPARE(list->itemText(position), below);
        QCOMPARE(folder.countRows(), qint64(count - 1));
    }
    const QList<qint64> ids = test::listedIds(*form);
    QCOMPARE(ids, idsOf(folder.readEntries()));
}

void EntriesTest::failingCatalogueKeepsEverything_data() {
    QTest::addColumn<bool>("add");
    QTest::addColumn<QString>("failure");
    for (bool add : {true, false}) {
        for (const char* failure : {"locked", "not a catalogue"})
            QTest::addRow("%s, %s", add ? "add" : "delete", failure)
                << add << QString::fromLatin1(failure);
    }
}

void EntriesTest::failingCatalogueKeepsEverything() {
    QFETCH(bool, add);
    QFETCH(QString, failure);
    TempProgramFolder folder;
    folder.createCatalogue(fiveEntries());
    const QList<Entry> before = folder.readEntries();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    const QStringList panel{QStringLiteral("O'Neil's 🔔"), QStringLiteral("/s/Звук.wav"),
                            QStringLiteral("100%"), QStringLiteral("don't lose me")};
    setPanel(*form, panel);
    form->list()->selectItem(2);
    form->ListView1_MouseDown(Qt::LeftButton);
    const QString tag = form->selectionTag();
    const QList<qint64> listed = test::listedIds(*form);

    std::optional<store::Connection> lock;
    QByteArray garbage;
    if (failure == QLatin1String("locked")) {
        lock.emplace(store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE));
        lock->exec("BEGIN EXCLUSIVE");
    } else {
        QRandomGenerator random(7);
        garbage.resize(64 * 1024);
        random.fillRange(reinterpret_cast<quint32*>(garbage.data()),
                         garbage.size() / qsizetype(sizeof(quint32)));
        QFile file(folder.cataloguePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(garbage), garbage.size());
    }

    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    if (add) {
        form->Command1_Click();
    } else {
        dialogs->answers.push_back(QMessageBox::Yes);
        form->DeleteMenu_Click();
    }

    QCOMPARE(dialogs->messages.size(), add ? 1 : 2);
    const ScriptedDialogs::Message& m = dialogs->messages.last();
    QCOMPARE(m.title, QStringLiteral("Kalvero 2.1"));
    QVERIFY2(m.text.contains(QDir::toNativeSeparators(folder.cataloguePath())), qPrintable(m.text));
    QCOMPARE(m.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(issued(spy).size(), 1);  // the one statement, no reload
    QCOMPARE(panelTexts(*form), panel);
    QCOMPARE(test::listedIds(*form), listed);
    QCOMPARE(form->selectionTag(), tag);
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);

    if (lock) {
        lock->exec("ROLLBACK");
        lock.reset();
        QCOMPARE(folder.readEntries(), before);
        // Once the other program lets go, the same command works.
        if (add) {
            form->Command1_Click();
            QCOMPARE(folder.countRows(), qint64(before.size() + 1));
            QCOMPARE(panelTexts(*form), QStringList(4, QString()));
        } else {
            form->DeleteMenu_Click();
            QCOMPARE(folder.countRows(), qint64(before.size() - 1));
            QCOMPARE(form->list()->count(), listed.size() - 1);
        }
        QCOMPARE(dialogs->messages.size(), add ? 1 : 3);
    } else {
        QFile file(folder.cataloguePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == garbage);  // the failure wrote nothing
    }
}

QTEST_MAIN(EntriesTest)
#include "tst_entries.moc"
