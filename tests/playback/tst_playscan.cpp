// Playing from the main window: which entry a click, a double click and
// "Play File" start, under the two play options, and exactly what command
// reaches the player. One half records the launcher's commands; the other
// lets the real launcher start a stand-in KZW4 script that logs its arguments.

#include "playback/playercommand.h"
#include "prefs/options.h"
#include "store/catalogue.h"
#include "store/statements.h"
#include "testsupport.h"
#include "window/listview1.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QtTest>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

namespace {

const QString kToken = QStringLiteral("tzobrahuxelivmcg");

QList<Entry> entries() {
    return {{0, QStringLiteral("Bark"), QStringLiteral("/s/dog bark.wav"), QStringLiteral("A"),
             QString()},
            {0, QStringLiteral("Ёж"), QStringLiteral("/звуки/it's \"a\"::b 100%_.flac"),
             QStringLiteral("B"), QString()},
            {0, QStringLiteral("Bell"), QStringLiteral("  /音声/🎵 bell.ogg  "), QStringLiteral("C"),
             QString()},
            {0, QStringLiteral("Nothing"), QString(), QStringLiteral("D"), QString()}};
}

QString argumentFor(const QString& filePath) { return filePath + QStringLiteral("::") + kToken; }

// Records what the launcher was asked to start, without starting anything.
struct Recorder {
    QList<playback::PlayerCommand> started;
    QStringList arguments() const {
        QStringList out;
        for (const auto& c : started) out << c.arguments.join(QLatin1Char('|'));
        return out;
    }
};

window::Form1Services recordingServices(const std::shared_ptr<Recorder>& recorder) {
    window::Form1Services services;
    services.launcher = playback::Launcher([recorder](const playback::PlayerCommand& command) {
        recorder->started.append(command);
        return true;
    });
    return services;
}

void storeOptions(bool click, bool doubleClick) {
    prefs::OptionStore options;
    options.write(prefs::kPlayClick, click);
    options.write(prefs::kPlayDoubleClick, doubleClick);
}

QAction* action(const window::Form1& form, const char* name) {
    return form.findChild<QAction*>(QLatin1String(name));
}

QPoint rowCentre(const window::Form1& form, int position) {
    window::ListView1* list = form.list();
    return list->visualRect(list->rows()->index(position - 1, 1)).center();
}

void click(const window::Form1& form, int position) {
    QTest::mouseClick(form.list()->viewport(), Qt::LeftButton, {}, rowCentre(form, position));
}

// What the window system delivers for a double click: press, release, the
// second press as a double click, release.
void doubleClick(const window::Form1& form, int position) {
    QWidget* viewport = form.list()->viewport();
    const QPoint at = rowCentre(form, position);
    QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

// The stand-in player: one log line per start, the number of arguments and
// then each argument in angle brackets, written in one go so that players
// running at once do not mix their lines.
const char kStandInPlayer[] =
    "#!/bin/sh\n"
    "line=\"$#\"\n"
    "for a in \"$@\"; do line=\"$line <$a>\"; done\n"
    "printf '%s\\n' \"$line\" >> \"$(dirname \"$0\")/kzw4.log\"\n";

QString installStandIn(const QString& folder) {
    const QString path = QDir(folder).filePath(QStringLiteral("KZW4"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly)) return {};
    script.write(kStandInPlayer);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup);
    return path;
}

// Players started from `program` that are still running. A started player
// is visible here from the moment the launcher returns.
int runningPlayers(const QString& program) {
    int running = 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric) continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        if (cmdline.readAll().split('\0').contains(QFile::encodeName(program))) ++running;
    }
    return running;
}

QStringList readLog(const QString& folder) {
    QFile log(QDir(folder).filePath(QStringLiteral("kzw4.log")));
    if (!log.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QString logLine(const QString& filePath) {
    return QStringLiteral("1 <%1>").arg(argumentFor(filePath));
}

}  // namespace

class PlayScanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { settings_ = std::make_unique<test::IsolatedSettings>(); }
    void cleanup() { settings_.reset(); }

    void emptyListStartsNothing();
    void noSelectionStartsNothing();
    void firstSelectedInListOrderPlays_data();
    void firstSelectedInListOrderPlays();
    void optionsDecideClickAndDoubleClick_data();
    void optionsDecideClickAndDoubleClick();
    void playFileAlwaysPlays();
    void otherButtonsDoNotPlay();
    void standInPlayerGetsOneArgumentPerPlay();
    void folderWithBlanksAndQuotes();
    void unusablePlayerIsIgnored_data();
    void unusablePlayerIsIgnored();
    void playOnSelection_data();
    void playOnSelection();

private:
    std::unique_ptr<test::IsolatedSettings> settings_;
    QTemporaryDir runtime_;
};

void PlayScanTest::initTestCase() {
    // A running player takes sounds over its socket: players elsewhere on
    // this machine must not take the ones these tests start.
    QVERIFY(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
}

void PlayScanTest::emptyListStartsNothing() {
    TempProgramFolder folder;
    folder.createCatalogue();
    storeOptions(true, true);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QCOMPARE(form->list()->count(), 0);

    form->ListView1_Click();
    form->ListView1_DblClick();
    form->MPlayFile_Click();
    action(*form, "MPlayFile")->trigger();
    QTest::mouseClick(form->list()->viewport(), Qt::LeftButton);
    QCOMPARE(recorder->started.size(), 0);
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::noSelectionStartsNothing() {
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    storeOptions(true, true);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QCOMPARE(form->list()->count(), 4);
    for (int p = 1; p <= 4; ++p) QVERIFY(!test::isSelected(form->list(), p));

    form->ListView1_Click();
    form->ListView1_DblClick();
    form->MPlayFile_Click();
    // A row selected and then unselected again leaves nothing to play.
    form->list()->selectItem(2);
    test::deselect(form->list(), 2);
    form->MPlayFile_Click();
    QCOMPARE(recorder->started.size(), 0);
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::firstSelectedInListOrderPlays_data() {
    QTest::addColumn<QList<int>>("selectOrder");
    QTest::addColumn<int>("played");
    QTest::newRow("only the second") << QList<int>{2} << 2;
    QTest::newRow("last then first") << QList<int>{4, 1} << 1;
    QTest::newRow("third then second") << QList<int>{3, 2} << 2;
    QTest::newRow("all, backwards") << QList<int>{4, 3, 2, 1} << 1;
    QTest::newRow("last, its path empty") << QList<int>{4} << 4;
}

void PlayScanTest::firstSelectedInListOrderPlays() {
    QFETCH(QList<int>, selectOrder);
    QFETCH(int, played);
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    for (int position : selectOrder) form->list()->selectItem(position, true);

    form->MPlayFile_Click();
    QCOMPARE(recorder->started.size(), 1);
    QCOMPARE(recorder->started.at(0).program, folder.path() + QStringLiteral("/KZW4"));
    const QString filePath = entries().at(played - 1).file;
    QCOMPARE(recorder->started.at(0).arguments, QStringList{argumentFor(filePath)});
    // Playing leaves the list and its selection alone.
    QCOMPARE(form->list()->count(), 4);
    for (int p = 1; p <= 4; ++p)
        QCOMPARE(test::isSelected(form->list(), p), selectOrder.contains(p));
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::optionsDecideClickAndDoubleClick_data() {
    QTest::addColumn<bool>("onClick");
    QTest::addColumn<bool>("onDoubleClick");
    QTest::newRow("click only (as at first start)") << true << false;
    QTest::newRow("double click only") << false << true;
    QTest::newRow("both") << true << true;
    QTest::newRow("neither") << false << false;
}

void PlayScanTest::optionsDecideClickAndDoubleClick() {
    QFETCH(bool, onClick);
    QFETCH(bool, onDoubleClick);
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    storeOptions(onClick, onDoubleClick);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(action(*form, "PlayClickM")->isChecked(), onClick);
    QCOMPARE(action(*form, "PlaySoundonDoubleClickM")->isChecked(), onDoubleClick);
    const QString second = argumentFor(entries().at(1).file);
    const QString third = argumentFor(entries().at(2).file);

    // The handlers themselves, with row 2 selected.
    form->list()->selectItem(2);
    form->ListView1_Click();
    QCOMPARE(recorder->started.size(), onClick ? 1 : 0);
    recorder->started.clear();
    form->ListView1_DblClick();
    QCOMPARE(recorder->started.size(), onDoubleClick ? 1 : 0);
    recorder->started.clear();

    // A click on row 3 selects it first and plays it.
    click(*form, 3);
    QVERIFY(test::isSelected(form->list(), 3));
    QCOMPARE(recorder->arguments(), onClick ? QStringList{third} : QStringList{});
    recorder->started.clear();

    // A double click on row 2 is a click and then a double click.
    doubleClick(*form, 2);
    QStringList expected;
    if (onClick) expected << second;
    if (onDoubleClick) expected << second;
    QCOMPARE(recorder->arguments(), expected);
    recorder->started.clear();

    // The check marks are read when the event comes, not at start-up.
    form->PlayClickM_Click();
    const bool clickNow = action(*form, "PlayClickM")->isChecked();
    QCOMPARE(clickNow, !onClick);
    click(*form, 1);
    QCOMPARE(recorder->arguments(),
             clickNow ? QStringList{argumentFor(entries().at(0).file)} : QStringList{});
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::playFileAlwaysPlays() {
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    storeOptions(false, false);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(!action(*form, "PlayClickM")->isChecked());
    QVERIFY(!action(*form, "PlaySoundonDoubleClickM")->isChecked());

    click(*form, 3);
    doubleClick(*form, 3);
    QCOMPARE(recorder->started.size(), 0);
    QAction* playFile = action(*form, "MPlayFile");
    QCOMPARE(playFile->text(), QStringLiteral("Play File"));
    playFile->trigger();
    QCOMPARE(recorder->arguments(), QStringList{argumentFor(entries().at(2).file)});
    playFile->trigger();
    QCOMPARE(recorder->started.size(), 2);
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::otherButtonsDoNotPlay() {
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    storeOptions(true, true);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QWidget* viewport = form->list()->viewport();
    const QPoint at = rowCentre(*form, 2);
    QTest::mouseClick(viewport, Qt::MiddleButton, {}, at);
    QTest::mouseClick(viewport, Qt::RightButton, {}, at);
    if (QMenu* menu = form->findChild<QMenu*>(QStringLiteral("Rmenu"))) menu->hide();
    QCOMPARE(recorder->started.size(), 0);
}

void PlayScanTest::standInPlayerGetsOneArgumentPerPlay() {
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    const QString player = installStandIn(folder.path());
    QVERIFY(!player.isEmpty());
    storeOptions(true, false);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);  // the real launcher
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    click(*form, 2);        // plays row 2
    doubleClick(*form, 3);  // its click part plays row 3
    form->list()->selectItem(4);
    form->list()->selectItem(1, true);
    action(*form, "MPlayFile")->trigger();  // row 1, the first selected
    form->list()->clearSelectionFlags();
    form->ListView1_Click();  // nothing selected
    form->MPlayFile_Click();

    QTRY_COMPARE_WITH_TIMEOUT(runningPlayers(player), 0, 20000);
    QStringList log = readLog(folder.path());
    // Players started together may finish in any order.
    log.sort();
    QStringList expected{logLine(entries().at(1).file), logLine(entries().at(2).file),
                         logLine(entries().at(0).file)};
    expected.sort();
    QCOMPARE(log, expected);
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::folderWithBlanksAndQuotes() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString programFolder =
        root.filePath(QStringLiteral("my programs/it's \"Kalvero\" ü 音"));
    QVERIFY(QDir().mkpath(programFolder));
    {
        store::Catalogue catalogue(programFolder);
        catalogue.begin();
        catalogue.run(store::buildInsert(QStringLiteral("Ёж"), entries().at(1).file,
                                         QStringLiteral("B"), QString()));
        catalogue.end();
    }
    const QString player = installStandIn(programFolder);
    QVERIFY(!player.isEmpty());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    window::Form1Services services;
    services.dialogs = dialogs;
    window::Form1 form(programFolder, std::move(services));
    form.show();
    QCOMPARE(form.list()->count(), 1);
    form.list()->selectItem(1);
    form.MPlayFile_Click();

    QTRY_COMPARE_WITH_TIMEOUT(runningPlayers(player), 0, 20000);
    QCOMPARE(readLog(programFolder), QStringList{logLine(entries().at(1).file)});
    QCOMPARE(dialogs->messages.size(), 0);
}

void PlayScanTest::unusablePlayerIsIgnored_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("no player") << QStringLiteral("missing");
    QTest::newRow("player not executable") << QStringLiteral("not executable");
    QTest::newRow("a folder named KZW4") << QStringLiteral("folder");
    QTest::newRow("player fails at once") << QStringLiteral("fails");
}

void PlayScanTest::unusablePlayerIsIgnored() {
    QFETCH(QString, kind);
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    const QString player = QDir(folder.path()).filePath(QStringLiteral("KZW4"));
    if (kind == QLatin1String("not executable")) {
        QFile file(player);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kStandInPlayer);
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(player));
    } else if (kind == QLatin1String("fails")) {
        QFile file(player);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 1\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    storeOptions(true, true);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);  // the real launcher
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    click(*form, 1);
    doubleClick(*form, 2);
    action(*form, "MPlayFile")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(runningPlayers(player), 0, 20000);

    // Nothing shown, nothing logged, and the window goes on as before.
    QCOMPARE(dialogs->messages.size(), 0);
    QVERIFY(!QFile::exists(QDir(folder.path()).filePath(QStringLiteral("kzw4.log"))));
    QVERIFY(form->isVisible());
    QCOMPARE(form->list()->count(), 4);
    QVERIFY(test::isSelected(form->list(), 2));
    QCOMPARE(folder.countRows(), 4);
}

void PlayScanTest::playOnSelection_data() {
    QTest::addColumn<bool>("onSelection");
    QTest::addColumn<QStringList>("steps");  // "click N", or a key sequence for the list
    QTest::addColumn<QList<int>>("played");  // rows, in order; negative: played by a click
    const bool on = true;
    auto steps = [](std::initializer_list<const char*> texts) {
        QStringList out;
        for (const char* text : texts) out << QLatin1String(text);
        return out;
    };
    QTest::newRow("Down three times")
        << on << steps({"click 1", "Down", "Down", "Down"}) << QList<int>{1, 2, 3, 4};
    QTest::newRow("Up, Home, End, Page Up")
        << on << steps({"click 2", "Up", "End", "Home", "PgDown", "PgUp"})
        << QList<int>{2, 1, 4, 1, 4, 1};
    QTest::newRow("a move that selects nothing plays nothing")
        << on << steps({"click 1", "Ctrl+Down", "Ctrl+Down", "Down"}) << QList<int>{1, 4};
    // The press selects and plays; the click that follows does not play it again.
    QTest::newRow("click on another row plays once")
        << on << steps({"click 3", "click 1"}) << QList<int>{3, 1};
    QTest::newRow("click on the current row plays by the click")
        << on << steps({"click 3", "click 3"}) << QList<int>{3, -3};
    QTest::newRow("off: keys play nothing")
        << false << steps({"click 1", "Down", "End"}) << QList<int>{-1};
}

void PlayScanTest::playOnSelection() {
    QFETCH(bool, onSelection);
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, played);
    TempProgramFolder folder;
    folder.createCatalogue(entries());
    storeOptions(true, false);
    prefs::OptionStore().write(prefs::kPlayOnSelection, onSelection);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto recorder = std::make_shared<Recorder>();
    auto form = test::makeForm(folder, dialogs, recordingServices(recorder));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(action(*form, "PlayOnSelectionM")->isChecked(), onSelection);

    for (const QString& step : steps) {
        if (step.startsWith(QLatin1String("click ")))
            click(*form, step.mid(6).toInt());
        else
            QTest::keySequence(form->list(), QKeySequence(step));
    }
    QStringList expected;
    QList<bool> focus;
    for (int row : played) {
        expected << argumentFor(entries().at(std::abs(row) - 1).file);
        // A sound played because the selection moved leaves the focus with the list.
        focus << (row < 0);
    }
    QCOMPARE(recorder->arguments(), expected);
    QList<bool> tookFocus;
    for (const auto& command : recorder->started) tookFocus << command.takeFocus;
    QCOMPARE(tookFocus, focus);

    // The option's menu item flips it and keeps it per user.
    action(*form, "PlayOnSelectionM")->trigger();
    QCOMPARE(action(*form, "PlayOnSelectionM")->isChecked(), !onSelection);
    QCOMPARE(prefs::OptionStore().read(prefs::kPlayOnSelection, onSelection), !onSelection);
    QCOMPARE(dialogs->messages.size(), 0);
}

QTEST_MAIN(PlayScanTest)
#include "tst_playscan.moc"
