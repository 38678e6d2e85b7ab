// The main window's start-up and list load against real encrypted catalogues:
// what the list shows, the statement it runs, the connection's state, every
// way the catalogue can fail, and loads asked for while one runs.

#include "store/facts.h"
#include "store/transaction.h"
#include "testsupport.h"
#include "window/listsnapshot.h"
#include "window/listview1.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

namespace {

QList<Entry> threeEntries() {
    return {{0, QStringLiteral("Bark"), QStringLiteral("/s/dog bark.wav"),
             QStringLiteral("Animals"), QStringLiteral("A dog barks")},
            {0, QStringLiteral("Äpfel fallen"), QStringLiteral("/s/äpfel.flac"),
             QStringLiteral("Nature"), QStringLiteral("Apples falling")},
            {0, QStringLiteral("СОБАКА"), QStringLiteral("/s/собака.ogg"),
             QStringLiteral("Животные"), QStringLiteral("лает")}};
}

// A 16-bit mono WAV at 48 kHz holding a 1 kHz tone of `amplitude` for a second.
void writeTone(const QString& path, double amplitude) {
    QByteArray samples;
    for (int i = 0; i < 48000; ++i) {
        const auto v = qint16(amplitude * 32767 * std::sin(2 * M_PI * 1000 * i / 48000.0));
        samples.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
    }
    const auto le32 = [](quint32 v) {
        return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
    };
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF" + le32(36 + quint32(samples.size())) + "WAVEfmt " + le32(16) +
               QByteArray("\x01\x00\x01\x00", 4) + le32(48000) + le32(96000) +
               QByteArray("\x02\x00\x10\x00", 4) + "data" + le32(quint32(samples.size())) +
               samples);
}

QStringList selects(const QSignalSpy& spy) {
    QStringList out;
    for (const auto& args : spy) {
        const QString sql = args.at(0).toString();
        if (sql.startsWith(QLatin1String("select"))) out << sql;
    }
    return out;
}

}  // namespace

class ListLoadTest : public QObject {
    Q_OBJECT
private slots:
    void init() { settings_ = std::make_unique<test::IsolatedSettings>(); }
    void cleanup() { settings_.reset(); }

    void windowIsComposedAsDesigned();
    void startUpShowsEveryEntryInIdOrder();
    void nullsShowEmpty();
    void emptyResultHasNoColumns();
    void caseIgnoredInEveryScript_data();
    void caseIgnoredInEveryScript();
    void missingCatalogueIsCreated();
    void unusableCatalogue_data();
    void unusableCatalogue();
    void failedReloadRecovers_data();
    void failedReloadRecovers();
    void loadAskedForDuringLoadRunsAfterIt();
    void sortLetsEventsRunInsideTheStatement();
    void operationsDuringLoadWait();
    void dialogOpensOutsideTheLoad();
    void backgroundAnalysisKeepsTheList_data();
    void backgroundAnalysisKeepsTheList();

private:
    std::unique_ptr<test::IsolatedSettings> settings_;
};

void ListLoadTest::windowIsComposedAsDesigned() {
    TempProgramFolder folder;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QCOMPARE(form->windowTitle(), QStringLiteral("Kalvero 2.1 - kalvero.example"));
    const struct {
        const char* name;
        const char* caption;
        QRect pixels;
    } buttons[] = {
        {"Command1", "Add", {256, 24, 81, 17}},    {"Command2", "Clear", {344, 24, 81, 17}},
        {"Command3", "Browse", {432, 24, 81, 17}}, {"Command4", "Help", {608, 24, 81, 17}},
        {"Command5", "Filter", {384, 32, 81, 17}}, {"Command7", "Show All", {472, 32, 81, 17}},
        {"Comand8", "Minimize", {528, 32, 81, 17}}};
    for (const auto& b : buttons) {
        auto* button = form->findChild<QPushButton*>(QLatin1String(b.name));
        QVERIFY2(button, b.name);
        QCOMPARE(button->text(), QString::fromUtf8(b.caption));
        QCOMPARE(button->geometry(), b.pixels);
    }
    for (const char* name :
         {"Text1", "Text2", "Text3", "Text4", "Text5", "Text7", "Text8", "Text9"}) {
        auto* box = form->findChild<QLineEdit*>(QLatin1String(name));
        QVERIFY2(box && box->text().isEmpty(), name);
    }
    QCOMPARE(form->findChild<QLineEdit*>(QStringLiteral("Text7"))->accessibleName(),
             QStringLiteral("Sound File filter"));
    QCOMPARE(form->findChild<QGroupBox*>(QStringLiteral("Frameqq2"))->title(),
             QStringLiteral("Searching and Filtering"));

    // Menus: the bar shows File, Options and Help; the context menu is not on it.
    QStringList bar;
    for (QAction* a : form->menuBar()->actions()) bar << a->text();
    QCOMPARE(bar, (QStringList{QStringLiteral("File"), QStringLiteral("Options"),
                               QStringLiteral("Help")}));
    const struct {
        const char* name;
        const char* caption;
        bool checked;
    } items[] = {{"HelpM", "Help", false},
                 {"ExitM", "Exit", false},
                 {"AlwaysOnTopM", "Always On Top", false},
                 {"PlayClickM", "Play Sound on Click", true},
                 {"PlaySoundonDoubleClickM", "Play Sound on Double Click", false},
                 {"PlayOnSelectionM", "Play on Selection", false},
                 {"ShowSearchBar", "Show Search Bar", false},
                 {"HelpMMMMMMMMMM", "Help", false},
                 {"AboutMMMM", "About", false},
                 {"MPlayFile", "Play File", false},
                 {"DeleteMenu", "Delete It?", false},
                 {"EditEntry", "Edit Entry", false}};
    for (const auto& item : items) {
        auto* action = form->findChild<QAction*>(QLatin1String(item.name));
        QVERIFY2(action, item.name);
        QCOMPARE(action->text(), QString::fromUtf8(item.caption));
        QCOMPARE(action->isChecked(), item.checked);
    }
    // First start: the search bar is hidden.
    QVERIFY(!form->findChild<QGroupBox*>(QStringLiteral("Frameqq2"))->isVisibleTo(form.get()));
    QVERIFY(dialogs->messages.isEmpty());
}

void ListLoadTest::startUpShowsEveryEntryInIdOrder() {
    TempProgramFolder folder;
    // IDs out of insertion order: the list must sort them.
    QList<Entry> rows = threeEntries();
    rows[0].id = 30;
    rows[1].id = 10;
    rows[2].id = 20;
    folder.createCatalogue(rows);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QAbstractItemModelTester tester(form->list()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(test::listedIds(*form), (QList<qint64>{10, 20, 30}));
    QCOMPARE(test::rowTexts(*form, 1),
             (QStringList{QStringLiteral("10"), rows[1].name, rows[1].file, rows[1].category,
                          rows[1].description}));
    auto* list = form->list();
    QCOMPARE(list->columnCount(), 5);
    QStringList titles;
    for (int c = 1; c <= 5; ++c) titles << list->columnTitle(c);
    QCOMPARE(titles,
             (QStringList{QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("File Path"),
                          QStringLiteral("Category"), QStringLiteral("Description")}));
    QCOMPARE(list->columnWidthTwips(1), 1);
    QCOMPARE(list->columnWidthTwips(2), window::ListView1::kDefaultColumnTwips);
    QVERIFY(list->selectionModel()->selectedRows().isEmpty());
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    QCOMPARE(form->rememberedSort(), qint16(1));
    QVERIFY(dialogs->messages.isEmpty());

    // A reload after a selection leaves nothing selected and the connection closed.
    list->selectItem(2);
    QSignalSpy spy(form.get(), &window::Form1::statementIssued);
    form->SearchData1(1);
    QCOMPARE(selects(spy).size(), 1);
    QVERIFY(list->selectionModel()->selectedRows().isEmpty());
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
}

void ListLoadTest::nullsShowEmpty() {
    TempProgramFolder folder;
    folder.createCatalogue({{0, QString(), QStringLiteral("x.wav"), QString(), QString()},
                            {0, QStringLiteral("n"), QString(), QStringLiteral("c"), QString()}});
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    QCOMPARE(form->list()->count(), 2);
    QCOMPARE(test::rowTexts(*form, 1),
             (QStringList{QStringLiteral("1"), QString(), QStringLiteral("x.wav"), QString(),
                          QString()}));
    QCOMPARE(test::rowTexts(*form, 2), (QStringList{QStringLiteral("2"), QStringLiteral("n"),
                                                    QString(), QStringLiteral("c"), QString()}));
}

void ListLoadTest::emptyResultHasNoColumns() {
    TempProgramFolder folder;
    folder.createCatalogue(threeEntries());
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    form->findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(QStringLiteral("no such name"));
    form->SearchData1(1);
    QCOMPARE(form->list()->count(), 0);
    QCOMPARE(form->list()->columnCount(), 0);
    QCOMPARE(form->list()->header()->count(), 0);
    form->findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(QString());
    form->SearchData1(1);
    QCOMPARE(form->list()->count(), 3);
    QCOMPARE(form->list()->columnCount(), 5);
    QCOMPARE(form->list()->columnWidthTwips(1), 1);
}

void ListLoadTest::caseIgnoredInEveryScript_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<qint64>>("ids");
    QTest::newRow("ascii") << QStringLiteral("Text5") << QStringLiteral("bARK") << QList<qint64>{1};
    QTest::newRow("accented") << QStringLiteral("Text5") << QStringLiteral("äPFEL")
                              << QList<qint64>{2};
    QTest::newRow("cyrillic") << QStringLiteral("Text5") << QStringLiteral("собака")
                              << QList<qint64>{3};
    QTest::newRow("cyrillic category")
        << QStringLiteral("Text8") << QStringLiteral("ЖИВОТ") << QList<qint64>{3};
    QTest::newRow("file path") << QStringLiteral("Text7") << QStringLiteral("/S/")
                               << QList<qint64>{1, 2, 3};
    QTest::newRow("description") << QStringLiteral("Text9") << QStringLiteral("APPLES")
                                 << QList<qint64>{2};
    QTest::newRow("quote finds nothing, breaks nothing")
        << QStringLiteral("Text5") << QStringLiteral("o'clock") << QList<qint64>{};
    QTest::newRow("underscore wildcard")
        << QStringLiteral("Text5") << QStringLiteral("b_rk") << QList<qint64>{1};
    QTest::newRow("percent alone")
        << QStringLiteral("Text9") << QStringLiteral("%") << QList<qint64>{1, 2, 3, 4};
    QTest::newRow("lone blank") << QStringLiteral("Text5") << QStringLiteral(" ")
                                << QList<qint64>{2};
    QTest::newRow("NUL matches nothing, errs nothing")
        << QStringLiteral("Text9")
        << (QStringLiteral("a") + QChar(0) + QStringLiteral("' or 1=1 --")) << QList<qint64>{};
    QTest::newRow("half a surrogate pair matches nothing")
        << QStringLiteral("Text9") << QString(QChar(0xD800)) << QList<qint64>{};
    QTest::newRow("statement breakout stays a search text")
        << QStringLiteral("Text5") << QStringLiteral("%' or '1'='1") << QList<qint64>{};
}

void ListLoadTest::caseIgnoredInEveryScript() {
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QList<qint64>, ids);
    TempProgramFolder folder;
    // A description written by another tool with what a broken text turns into.
    QList<Entry> entries = threeEntries();
    entries.append({0, QStringLiteral("Odd"), QStringLiteral("/t/odd.wav"), QStringLiteral("X"),
                    QStringLiteral("? \uFFFD")});
    folder.createCatalogue(entries);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    form->findChild<QLineEdit*>(box)->setText(text);
    form->SearchData1(1);
    QCOMPARE(test::listedIds(*form), ids);
    QVERIFY(dialogs->messages.isEmpty());
    QCOMPARE(folder.countRows(), 4);
}

void ListLoadTest::missingCatalogueIsCreated() {
    TempProgramFolder folder;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QVERIFY(dialogs->messages.isEmpty());
    QCOMPARE(form->list()->count(), 0);
    QFile file(folder.cataloguePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(16) != QByteArray("SQLite format 3\0", 16));
    QCOMPARE(folder.countRows(), 0);
}

void ListLoadTest::unusableCatalogue_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("cause");
    QTest::newRow("wrong key") << QStringLiteral("key")
                               << QStringLiteral("not a Kalvero catalogue");
    QTest::newRow("not a catalogue")
        << QStringLiteral("garbage") << QStringLiteral("not a Kalvero catalogue");
    QTest::newRow("truncated") << QStringLiteral("truncated") << QStringLiteral("catalogue");
    QTest::newRow("folder missing")
        << QStringLiteral("nofolder") << QStringLiteral("could not be opened");
    QTest::newRow("catalogue is a folder")
        << QStringLiteral("isfolder") << QStringLiteral("could not be opened");
}

void ListLoadTest::unusableCatalogue() {
    QFETCH(QString, fault);
    QFETCH(QString, cause);
    TempProgramFolder folder;
    QString programFolder = folder.path();
    QByteArray before;
    if (fault == QLatin1String("key")) {
        sqlite3* db = nullptr;
        sqlite3_open(folder.cataloguePath().toUtf8().constData(), &db);
        sqlite3_key(db, "another password", 16);
        sqlite3_exec(db, "create table SoundData(x); insert into SoundData values ('kept');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    } else if (fault == QLatin1String("garbage")) {
        QFile f(folder.cataloguePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(50000, '\x5a'));
    } else if (fault == QLatin1String("truncated")) {
        QList<Entry> many;
        for (int i = 0; i < 2000; ++i)
            many.append(
                {0, QStringLiteral("entry %1").arg(i), QStringLiteral("/f/%1.wav").arg(i), {}, {}});
        folder.createCatalogue(many);
        QVERIFY(QFile::resize(folder.cataloguePath(),
                              QFileInfo(folder.cataloguePath()).size() / 2 + 100));
    } else if (fault == QLatin1String("nofolder")) {
        programFolder += QStringLiteral("/gone");
    } else if (fault == QLatin1String("isfolder")) {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("Kalverodb.mdb")));
    }
    if (QFileInfo(folder.cataloguePath()).isFile()) {
        QFile f(folder.cataloguePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        before = f.readAll();
    }

    auto dialogs = std::make_shared<ScriptedDialogs>();
    window::Form1Services services;
    services.dialogs = dialogs;
    window::Form1 form(programFolder, services);
    // The window still comes up, with an empty list, after one plain message.
    QCOMPARE(dialogs->messages.size(), 1);
    const auto& message = dialogs->messages.first();
    QCOMPARE(message.title, QStringLiteral("Kalvero 2.1"));
    QVERIFY2(message.text.contains(QStringLiteral("Kalverodb.mdb")), qPrintable(message.text));
    QVERIFY2(message.text.contains(cause), qPrintable(message.text));
    QCOMPARE(form.list()->count(), 0);
    QCOMPARE(form.catalogue().state(), store::Catalogue::State::Closed);
    // The faulty file was not touched.
    if (!before.isEmpty()) {
        QFile f(folder.cataloguePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == before);
    }
    // The window goes on answering: another reload fails the same way.
    form.SearchData1(1);
    QCOMPARE(dialogs->messages.size(), 2);
}

void ListLoadTest::failedReloadRecovers_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("cause");
    QTest::newRow("locked") << QStringLiteral("locked") << QStringLiteral("Another program");
    // Not a database error: the load must still end, tell the user, and let
    // later loads run.
    QTest::newRow("out of memory") << QStringLiteral("memory") << QStringLiteral("memory");
}

void ListLoadTest::failedReloadRecovers() {
    QFETCH(QString, fault);
    QFETCH(QString, cause);
    TempProgramFolder folder;
    folder.createCatalogue(threeEntries());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QCOMPARE(form->list()->count(), 3);

    {
        // Another program holds the file locked, or memory runs out: the
        // reload fails, nothing is lost.
        store::Connection other =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        if (fault == QLatin1String("locked")) {
            other.exec("BEGIN EXCLUSIVE");
            other.exec("delete from SoundData where ID = 1");
        }
        QMetaObject::Connection thrower;
        if (fault == QLatin1String("memory"))
            thrower = connect(form.get(), &window::Form1::statementIssued, form.get(),
                              [] { throw std::bad_alloc(); });
        try {
            form->SearchData1(1);
        } catch (...) {
            QFAIL("the failure escaped the load");
        }
        disconnect(thrower);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY2(dialogs->messages.first().text.contains(cause),
                 qPrintable(dialogs->messages.first().text));
        QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
        QVERIFY(!form->isLoading());
        if (fault == QLatin1String("locked")) other.exec("ROLLBACK");
    }
    form->SearchData1(1);
    QCOMPARE(dialogs->messages.size(), 1);
    QCOMPARE(test::listedIds(*form), (QList<qint64>{1, 2, 3}));
}

void ListLoadTest::loadAskedForDuringLoadRunsAfterIt() {
    TempProgramFolder folder;
    QList<Entry> many;
    for (int i = 0; i < 3000; ++i)
        many.append({0,
                     QStringLiteral("n%1").arg(2999 - i, 4, 10, QLatin1Char('0')),
                     QStringLiteral("/f/%1.wav").arg(i),
                     {},
                     {}});
    folder.createCatalogue(many);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    form->setLoadEventInterval(0);  // every clock check lets events run
    QAbstractItemModelTester tester(form->list()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);

    QSignalSpy statements(form.get(), &window::Form1::statementIssued);
    int nestedCalls = 0;
    bool sawNestedLoad = false;
    // While the first load shows its rows, ask for three more loads, as
    // header clicks during the load would.
    auto connection =
        connect(form->list()->model(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
            if (nestedCalls > 0 || !form->isLoading()) return;
            ++nestedCalls;
            const int before = static_cast<int>(statements.size());
            form->SearchData1(3);
            form->SearchData1(2);
            form->SearchData1(2);
            // None of them ran inside the running load.
            sawNestedLoad = statements.size() != before;
        });
    form->SearchData1(1);
    disconnect(connection);
    QCOMPARE(nestedCalls, 1);
    QVERIFY(!sawNestedLoad);
    // The running load gave way to the latest request, which sorts as the
    // clicks would one after the other: by name, then by name descending.
    const QStringList run = selects(statements);
    QCOMPARE(run.size(), 2);
    QVERIFY(run[0].endsWith(QLatin1String(" order by 1")));
    QVERIFY(run[1].endsWith(QLatin1String(" order by 2 Desc ")));
    QCOMPARE(form->rememberedSort(), qint16(0));
    QCOMPARE(form->list()->count(), 3000);
    QCOMPARE(form->list()->subItemText(1, 1), QStringLiteral("n2999"));
    QCOMPARE(form->list()->subItemText(3000, 1), QStringLiteral("n0000"));
    QVERIFY(!form->isLoading());
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    QVERIFY(dialogs->messages.isEmpty());
}

void ListLoadTest::operationsDuringLoadWait() {
    TempProgramFolder folder;
    QList<Entry> many;
    for (int i = 0; i < 3000; ++i)
        many.append({0, QStringLiteral("n"), QStringLiteral("/f/%1.wav").arg(i), {}, {}});
    folder.createCatalogue(many);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    form->setLoadEventInterval(0);
    QSignalSpy statements(form.get(), &window::Form1::statementIssued);
    bool asked = false;
    auto connection =
        connect(form->list()->model(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
            if (asked || !form->isLoading()) return;
            asked = true;
            form->findChild<QLineEdit*>(QStringLiteral("Text2"))
                ->setText(QStringLiteral("added during load.wav"));
            form->Command1_Click();
        });
    form->SearchData1(1);
    disconnect(connection);
    QVERIFY(asked);
    // The add waited for the load, then ran and reloaded.
    QCOMPARE(statements.size(), 3);
    QVERIFY(statements[0].at(0).toString().startsWith(QLatin1String("select")));
    QVERIFY(statements[1].at(0).toString().startsWith(QLatin1String("insert")));
    QVERIFY(statements[2].at(0).toString().startsWith(QLatin1String("select")));
    QCOMPARE(form->list()->count(), 3001);
    QCOMPARE(folder.countRows(), 3001);
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
}

void ListLoadTest::sortLetsEventsRunInsideTheStatement() {
    // The engine sorts inside the statement's first step: a timer must still
    // fire before that step has given a single row.
    TempProgramFolder folder;
    QList<Entry> many;
    for (int i = 0; i < 20000; ++i)
        many.append({0,
                     QStringLiteral("Näme %1").arg((i * 7919) % 20000, 5, 10, QLatin1Char('0')),
                     QStringLiteral("/f/%1.wav").arg(i),
                     {},
                     {}});
    folder.createCatalogue(many);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    form->setLoadEventInterval(0);
    int firedInsideStep = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, form.get(), [&] {
        if (form->isLoading() && form->list()->rows()->heldRowCount() == 0) ++firedInsideStep;
    });
    timer.start(0);
    form->ListView1_ColumnClick(2);
    timer.stop();
    QVERIFY(firedInsideStep > 0);
    QCOMPARE(form->list()->count(), 20000);
    QCOMPARE(form->list()->subItemText(1, 1), QStringLiteral("Näme 00000"));
    QCOMPARE(form->list()->subItemText(20000, 1), QStringLiteral("Näme 19999"));
    QCOMPARE(form->catalogue().state(), store::Catalogue::State::Closed);
    QVERIFY(dialogs->messages.isEmpty());
}

void ListLoadTest::dialogOpensOutsideTheLoad() {
    TempProgramFolder folder;
    folder.createCatalogue(QList<Entry>(3000, {0, QStringLiteral("n"), {}, {}, {}}));
    window::Form1 form(folder.path());  // with the real message box
    form.setLoadEventInterval(0);
    QTimer::singleShot(0, form.findChild<QAction*>(QStringLiteral("AboutMMMM")), &QAction::trigger);
    bool wrote = false;
    QTimer user;
    connect(&user, &QTimer::timeout, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        // Another program's import, while the box is open, waits only briefly for the lock.
        store::Connection other =
            store::openCatalogueFile(folder.cataloguePath(), SQLITE_OPEN_READWRITE);
        sqlite3_busy_timeout(other.handle(), 200);
        wrote =
            sqlite3_exec(other.handle(),
                         "BEGIN EXCLUSIVE; insert into SoundData (NameData) values ('x'); COMMIT",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
        box->accept();
    });
    user.start(0);
    form.SearchData1(1);
    QVERIFY(wrote);
    QCOMPARE(form.list()->count(), 3000);
}

QTEST_MAIN(ListLoadTest)
void ListLoadTest::backgroundAnalysisKeepsTheList_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("stillHeld");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("label");
    const QString counts = QStringLiteral("2 sounds analysed, 1 file could not be read.");
    // Nothing but the analysis's own batches: the entries read at start-up still answer.
    QTest::newRow("alone") << QString() << true << true << counts;
    // Another program holds the catalogue a while: the batch waits, the window does not.
    QTest::newRow("catalogue locked") << QStringLiteral("lock") << true << true << counts;
    // Another program added an entry after the list was read: it is read again.
    QTest::newRow("another program's entry") << QStringLiteral("insert") << false << true << counts;
    // The catalogue refuses the results: the run stops and says why.
    QTest::newRow("results refused")
        << QStringLiteral("refuse") << false << false << QStringLiteral("Analysis stopped");
    // The window closes while its batch waits for another program's lock:
    // nothing hangs, nothing is stored after it.
    QTest::newRow("closed while locked") << QStringLiteral("close") << true << false << QString();
}

void ListLoadTest::backgroundAnalysisKeepsTheList() {
    QFETCH(QString, meanwhile);
    QFETCH(bool, stillHeld);
    QFETCH(bool, stored);
    QFETCH(QString, label);
    TempProgramFolder folder;
    // Names with quotes, % and _ and other scripts; one file that is no sound.
    const QStringList names = {QStringLiteral("it's 100% _loud_.wav"),
                               QStringLiteral("шёпот 風.wav"), QStringLiteral("broken.wav")};
    QList<Entry> rows;
    for (int i = 0; i < names.size(); ++i) {
        const QString path = folder.path() + QLatin1Char('/') + names[i];
        if (i < 2) {
            writeTone(path, i == 0 ? 1.0 : 0.1);
        } else {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("RIFF not really");
        }
        rows << Entry{0, names[i], path, QStringLiteral("Tones"), QString()};
    }
    folder.createCatalogue(rows);
    {
        // As an import leaves it: the facts table is there.
        store::Connection writer = store::openCatalogueFile(
            folder.cataloguePath(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        store::Transaction transaction(writer);
        store::prepareFactsTable(writer);
        if (meanwhile == QLatin1String("refuse")) {
            writer.exec(
                "CREATE TRIGGER refused BEFORE INSERT ON SoundFacts BEGIN SELECT "
                "RAISE(ABORT, 'no facts, ''please'''); END");
        }
        transaction.commit();
    }
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    // A trigger is something the list's select must leave to the engine.
    QCOMPARE(form->listSnapshot().isHeld(), meanwhile != QLatin1String("refuse"));

    store::Connection other = store::openCatalogueFile(folder.cataloguePath(),
                                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    std::optional<store::Transaction> lock;
    if (meanwhile == QLatin1String("insert"))
        folder.insertRows({{0, QStringLiteral("Later"), QStringLiteral("/x.wav"), {}, {}}});
    if (meanwhile == QLatin1String("lock")) {
        lock.emplace(other);
        QTimer::singleShot(1500, [&lock] { lock.reset(); });
    }
    if (meanwhile == QLatin1String("close")) lock.emplace(other);

    QSignalSpy done(form->analysis(), &reconcile::BackgroundAnalysis::finished);
    form->startAnalysis();
    // Asked again while it runs (a second import): one more run follows,
    // which finds nothing new but the file that is no sound.
    if (meanwhile.isEmpty()) form->startAnalysis();
    if (meanwhile == QLatin1String("close")) {
        // Both files are read and their batch offered well within this.
        QTest::qWait(2000);
        QVERIFY(form->analysis()->isRunning());
        form.reset();
        lock.reset();
    } else {
        QVERIFY(done.wait(30000));
        QVERIFY(!lock);
        const auto result = done.first().first().value<reconcile::CatalogueAnalysisResult>();
        QCOMPARE(result.analysed, stored ? 2 : 0);
        QCOMPARE(result.failed.size(), 1);
        QCOMPARE(result.cancelled, !stored);
        QCOMPARE(form->listSnapshot().isHeld(), stillHeld);
        const auto* status = form->findChild<QLabel*>(QStringLiteral("AnalysisStatus"));
        QCOMPARE(status->text(), label);
        if (!stored)
            QVERIFY2(status->toolTip().contains(QStringLiteral("no facts, 'please'")),
                     qPrintable(status->toolTip()));
        if (meanwhile.isEmpty()) {
            QVERIFY(done.size() == 2 || done.wait(30000));
            const auto again = done.last().first().value<reconcile::CatalogueAnalysisResult>();
            QCOMPARE(again.analysed, 0);
            QCOMPARE(again.unchanged, 2);
            QCOMPARE(again.failed.size(), 1);
            QCOMPARE(status->text(), QStringLiteral("1 file could not be read."));
            QVERIFY(form->listSnapshot().isHeld());
        }
    }

    const QStringList loudness = {QStringLiteral("-3.0"), QStringLiteral("-23.0")};
    for (int i = 0; i < 2; ++i) {
        const std::optional<store::FactValues> facts = store::readFacts(other, i + 1);
        QCOMPARE(bool(facts), stored);
        if (!facts) continue;
        QCOMPARE((*facts)[store::Fact::AudioHash].size(), 64);
        QCOMPARE((*facts)[store::Fact::Loudness], loudness[i]);
    }
    QVERIFY(!store::readFacts(other, 3));
}

#include "tst_listload.moc"
