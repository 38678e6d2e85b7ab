// The window's options, always on top, the tray icon, About and Help: what
// start-up makes of the stored options, what each pick writes, and what the
// user sees through the message-box and browser seam.

#include "prefs/maker.h"
#include "prefs/options.h"
#include "testsupport.h"
#include "window/listview1.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

namespace {

// A stored option as the test sets it up: absent, or the exact text in the file.
using Stored = std::optional<QByteArray>;

QAction* action(const window::Form1& form, const char* name) {
    auto* found = form.findChild<QAction*>(QString::fromLatin1(name));
    Q_ASSERT(found);
    return found;
}

QGroupBox* searchBar(const window::Form1& form) {
    return form.findChild<QGroupBox*>(QStringLiteral("Frameqq2"));
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

// The settings file as the user would write it by hand: the given keys only.
bool storeOptions(const test::IsolatedSettings& settings,
                  const QList<std::pair<const char*, Stored>>& values) {
    QByteArray text = "[Options]\n";
    for (const auto& [key, value] : values)
        if (value) text += QByteArray(key) + '=' + *value + '\n';
    return writeBytes(settings.configFile(), text);
}

// The raw text stored under a key of [Options], or nothing when it is absent.
Stored storedText(const test::IsolatedSettings& settings, const char* key) {
    bool inOptions = false;
    for (const QByteArray& raw : readBytes(settings.configFile()).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) inOptions = line == "[Options]";
        if (inOptions && line.startsWith(QByteArray(key) + '=')) return line.mid(qstrlen(key) + 1);
    }
    return std::nullopt;
}

Stored text(bool value) { return value ? QByteArray("True") : QByteArray("False"); }

struct Marks {
    bool onTop, click, doubleClick, searchBar;
    bool operator==(const Marks&) const = default;
};

Marks marks(const window::Form1& form) {
    return {action(form, "AlwaysOnTopM")->isChecked(), action(form, "PlayClickM")->isChecked(),
            action(form, "PlaySoundonDoubleClickM")->isChecked(),
            action(form, "ShowSearchBar")->isChecked()};
}

char* toString(const Marks& m) {
    return qstrdup(QByteArray("onTop=" + QByteArray::number(m.onTop) +
                              " click=" + QByteArray::number(m.click) +
                              " doubleClick=" + QByteArray::number(m.doubleClick) +
                              " searchBar=" + QByteArray::number(m.searchBar))
                       .constData());
}

constexpr Marks kFirstRunMarks{false, true, false, false};

// List tops in twips: below the entry panel, or below the search bar.
constexpr double kTopUnderPanel = 120 + 615 + 100;
constexpr double kTopUnderSearchBar = 840 + 855 + 100;

// Records the players the window would start.
struct PlayerLog {
    QStringList files;
    playback::Launcher launcher() {
        return playback::Launcher([this](const playback::PlayerCommand& command) {
            files << command.arguments.value(0);
            return true;
        });
    }
};

class ImmutableGuard {
public:
    explicit ImmutableGuard(QString path) : path_(std::move(path)) {
        applied_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~ImmutableGuard() {
        if (applied_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    }
    ImmutableGuard(const ImmutableGuard&) = delete;
    ImmutableGuard& operator=(const ImmutableGuard&) = delete;
    bool applied() const { return applied_; }

private:
    QString path_;
    bool applied_ = false;
};

}  // namespace

// For QCOMPARE's report; found through the QByteArray inside.
static char* toString(const Stored& stored) {
    return stored ? QTest::toString(*stored) : qstrdup("(absent)");
}

Q_DECLARE_METATYPE(Stored)

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void firstRunWithEmptyStore();
    void playPair_data();
    void playPair();
    void storedMarksDecidePlaying_data();
    void storedMarksDecidePlaying();
    void showSearchBarTwice_data();
    void showSearchBarTwice();
    void badStoredValues_data();
    void badStoredValues();
    void unusableStore_data();
    void unusableStore();
    void readOnlyStore_data();
    void readOnlyStore();
    void alwaysOnTop_data();
    void alwaysOnTop();
    void aboutBox();
    void help_data();
    void help();
    void trayIconPresses_data();
    void trayIconPresses();
    void minimizeTwiceKeepsOneIcon();
    void minimizeWithoutTray();
};

void TestDesktop::firstRunWithEmptyStore() {
    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue({Entry{0, QStringLiteral("a"), QStringLiteral("/a.wav"), {}, {}}});
    auto dialogs = std::make_shared<ScriptedDialogs>();
    {
        auto form = test::makeForm(folder, dialogs);
        QCOMPARE(marks(*form), kFirstRunMarks);
        QVERIFY(searchBar(*form)->isHidden());
        QVERIFY(!form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!form->trayIcon());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->listGeometryTwips().top(), kTopUnderPanel);
        QVERIFY(!searchBar(*form)->isVisible());
        QVERIFY(!QFileInfo::exists(settings.configFile()));
        form->close();
    }
    // Nothing written at start, nor when the window goes.
    QVERIFY(!QFileInfo::exists(settings.configFile()));
    QVERIFY(!QFileInfo::exists(QFileInfo(settings.configFile()).path()));
    QVERIFY(dialogs->messages.isEmpty());
}

void TestDesktop::playPair_data() {
    QTest::addColumn<Stored>("storedClick");
    QTest::addColumn<Stored>("storedDouble");
    QTest::addColumn<QByteArray>("handler");
    QTest::addColumn<bool>("click");
    QTest::addColumn<bool>("doubleClick");

    const Stored t = text(true), f = text(false);
    // Picking the item that carries the mark moves it to the other one;
    // picking the other one moves the mark to it; exactly one is set after.
    QTest::newRow("click on, double off: pick click")
        << t << f << QByteArray("PlayClickM") << false << true;
    QTest::newRow("click on, double off: pick double")
        << t << f << QByteArray("PlaySoundonDoubleClickM") << false << true;
    QTest::newRow("click off, double on: pick click")
        << f << t << QByteArray("PlayClickM") << true << false;
    QTest::newRow("click off, double on: pick double")
        << f << t << QByteArray("PlaySoundonDoubleClickM") << true << false;
    QTest::newRow("both on: pick click") << t << t << QByteArray("PlayClickM") << false << true;
    QTest::newRow("both on: pick double")
        << t << t << QByteArray("PlaySoundonDoubleClickM") << true << false;
    QTest::newRow("both off: pick click") << f << f << QByteArray("PlayClickM") << true << false;
    QTest::newRow("both off: pick double")
        << f << f << QByteArray("PlaySoundonDoubleClickM") << false << true;
    QTest::newRow("nothing stored: pick click")
        << Stored() << Stored() << QByteArray("PlayClickM") << false << true;
    QTest::newRow("nothing stored: pick double")
        << Stored() << Stored() << QByteArray("PlaySoundonDoubleClickM") << false << true;
}

void TestDesktop::playPair() {
    QFETCH(Stored, storedClick);
    QFETCH(Stored, storedDouble);
    QFETCH(QByteArray, handler);
    QFETCH(bool, click);
    QFETCH(bool, doubleClick);

    test::IsolatedSettings settings;
    QVERIFY(storeOptions(settings, {{prefs::kPlayClick.key, storedClick},
                                    {prefs::kPlayDoubleClick.key, storedDouble}}));
    TempProgramFolder folder;
    folder.createCatalogue();
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());

    // The restore takes both keys as they come, even both set or both clear.
    const Marks start{false, storedClick ? *storedClick == "True" : kFirstRunMarks.click,
                      storedDouble ? *storedDouble == "True" : kFirstRunMarks.doubleClick, false};
    QCOMPARE(marks(*form), start);

    action(*form, handler.constData())->trigger();
    QCOMPARE(marks(*form), (Marks{false, click, doubleClick, false}));
    // Both keys written at once, as the marks read back; the others untouched.
    QCOMPARE(storedText(settings, prefs::kPlayClick.key), text(click));
    QCOMPARE(storedText(settings, prefs::kPlayDoubleClick.key), text(doubleClick));
    QCOMPARE(storedText(settings, prefs::kOnTop.key), Stored());
    QCOMPARE(storedText(settings, prefs::kShowSearchBar.key), Stored());

    // The next start sees the same.
    form.reset();
    auto next = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    QCOMPARE(marks(*next), (Marks{false, click, doubleClick, false}));
}

void TestDesktop::storedMarksDecidePlaying_data() {
    QTest::addColumn<Stored>("storedClick");
    QTest::addColumn<Stored>("storedDouble");
    QTest::addColumn<bool>("playsOnClick");
    QTest::addColumn<bool>("playsOnDoubleClick");
    QTest::newRow("both True") << text(true) << text(true) << true << true;
    QTest::newRow("both False") << text(false) << text(false) << false << false;
    QTest::newRow("click only") << text(true) << text(false) << true << false;
    QTest::newRow("double only") << text(false) << text(true) << false << true;
    QTest::newRow("nothing stored") << Stored() << Stored() << true << false;
}

void TestDesktop::storedMarksDecidePlaying() {
    QFETCH(Stored, storedClick);
    QFETCH(Stored, storedDouble);
    QFETCH(bool, playsOnClick);
    QFETCH(bool, playsOnDoubleClick);

    test::IsolatedSettings settings;
    QVERIFY(storeOptions(settings, {{prefs::kPlayClick.key, storedClick},
                                    {prefs::kPlayDoubleClick.key, storedDouble}}));
    TempProgramFolder folder;
    const QString sound = QStringLiteral("/snd/Ünïcødé 'quote' 100%_Звук_音.wav");
    folder.createCatalogue({Entry{0, QStringLiteral("n"), sound, {}, {}}});
    PlayerLog log;
    window::Form1Services services;
    services.launcher = log.launcher();
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>(), std::move(services));
    form->list()->selectItem(1);

    emit form->list()->Click();
    QCOMPARE(log.files.size(), playsOnClick ? 1 : 0);
    emit form->list()->DblClick();
    QCOMPARE(log.files.size(), (playsOnClick ? 1 : 0) + (playsOnDoubleClick ? 1 : 0));
    for (const QString& argument : log.files)
        QVERIFY(argument.startsWith(sound + QLatin1String("::")));
    // Playing never writes an option.
    QCOMPARE(readBytes(settings.configFile()).count('\n'),
             1 + (storedClick ? 1 : 0) + (storedDouble ? 1 : 0));
}

void TestDesktop::showSearchBarTwice_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<bool>("shownAtStart");
    QTest::newRow("nothing stored") << Stored() << false;
    QTest::newRow("False") << text(false) << false;
    QTest::newRow("True") << text(true) << true;
}

void TestDesktop::showSearchBarTwice() {
    QFETCH(Stored, stored);
    QFETCH(bool, shownAtStart);

    test::IsolatedSettings settings;
    QVERIFY(storeOptions(settings, {{prefs::kShowSearchBar.key, stored}}));
    TempProgramFolder folder;
    folder.createCatalogue();
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QAction* item = action(*form, "ShowSearchBar");
    auto expectedTop = [](bool shown) { return shown ? kTopUnderSearchBar : kTopUnderPanel; };

    QCOMPARE(item->isChecked(), shownAtStart);
    QCOMPARE(searchBar(*form)->isVisible(), shownAtStart);
    QCOMPARE(form->listGeometryTwips().top(), expectedTop(shownAtStart));

    for (bool shown : {!shownAtStart, shownAtStart}) {
        const double heightBefore = form->listGeometryTwips().height();
        item->trigger();
        QCOMPARE(item->isChecked(), shown);
        QCOMPARE(searchBar(*form)->isVisible(), shown);
        QCOMPARE(storedText(settings, prefs::kShowSearchBar.key), text(shown));
        // The layout ran at once: the list moved and kept its bottom edge.
        QCOMPARE(form->listGeometryTwips().top(), expectedTop(shown));
        QCOMPARE(form->listGeometryTwips().height(),
                 heightBefore + expectedTop(!shown) - expectedTop(shown));
    }
    // Back where it started, the key holding that state's text.
    QCOMPARE(storedText(settings, prefs::kShowSearchBar.key), text(shownAtStart));
    QCOMPARE(storedText(settings, prefs::kPlayClick.key), Stored());
}

void TestDesktop::badStoredValues_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("yes") << QByteArray("yes");
    QTest::newRow("1") << QByteArray("1");
    QTest::newRow("0") << QByteArray("0");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("binary junk") << QByteArray("\xff\xfe\x01\x80\x7f", 5);
    QTest::newRow("quotes") << QByteArray("'True' \"\"");
    QTest::newRow("percent and underscore") << QByteArray("%True_");
    QTest::newRow("accents") << QByteArray("Trué");
    QTest::newRow("Cyrillic") << QByteArray("Истина");
    QTest::newRow("CJK") << QByteArray("真");
    QTest::newRow("emoji") << QByteArray("🎧");
    QTest::newRow("huge") << QByteArray(300000, 'T');
}

void TestDesktop::badStoredValues() {
    QFETCH(QByteArray, value);
    test::IsolatedSettings settings;
    // Each stored value would differ from the first-run mark if it were taken.
    QVERIFY(storeOptions(settings, {{prefs::kOnTop.key, value},
                                    {prefs::kPlayClick.key, value},
                                    {prefs::kPlayDoubleClick.key, value},
                                    {prefs::kShowSearchBar.key, value}}));
    const QByteArray before = readBytes(settings.configFile());
    TempProgramFolder folder;
    folder.createCatalogue();
    {
        auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
        QCOMPARE(marks(*form), kFirstRunMarks);
        QVERIFY(searchBar(*form)->isHidden());
        QVERIFY(!form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    QCOMPARE(readBytes(settings.configFile()), before);
}

namespace {
enum class Obstacle { FileIsFolder, SettingsFolderIsFile, LockIsFolder, FileIsPipe };
}  // namespace
Q_DECLARE_METATYPE(Obstacle)

void TestDesktop::unusableStore_data() {
    QTest::addColumn<Obstacle>("obstacle");
    QTest::newRow("settings file is a folder") << Obstacle::FileIsFolder;
    QTest::newRow("settings folder is a file") << Obstacle::SettingsFolderIsFile;
    QTest::newRow("lock file is a folder") << Obstacle::LockIsFolder;
    QTest::newRow("settings file is a pipe") << Obstacle::FileIsPipe;
}

void TestDesktop::unusableStore() {
    QFETCH(Obstacle, obstacle);
    test::IsolatedSettings settings;
    const QString file = settings.configFile();
    const QString folderPath = QFileInfo(file).path();
    switch (obstacle) {
        case Obstacle::FileIsFolder:
            QVERIFY(QDir().mkpath(file));
            break;
        case Obstacle::SettingsFolderIsFile:
            QVERIFY(writeBytes(folderPath, "[Options]\nPlayClickM=False\n"));
            break;
        case Obstacle::LockIsFolder:
            QVERIFY(QDir().mkpath(file + QLatin1String(".lock")));
            break;
        case Obstacle::FileIsPipe:
            QVERIFY(QDir().mkpath(folderPath));
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
            break;
    }
    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QCOMPARE(marks(*form), kFirstRunMarks);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    // Every pick still moves its mark (the live state); the lost writes say nothing.
    action(*form, "PlayClickM")->trigger();
    action(*form, "ShowSearchBar")->trigger();
    action(*form, "AlwaysOnTopM")->trigger();
    QCOMPARE(marks(*form), (Marks{true, false, true, true}));
    QVERIFY(searchBar(*form)->isVisible());
    QVERIFY(dialogs->messages.isEmpty());
    QVERIFY(!QFileInfo(file).isFile());
}

void TestDesktop::readOnlyStore_data() {
    QTest::addColumn<bool>("wholeFolder");
    QTest::newRow("read-only file") << false;
    QTest::newRow("read-only folder") << true;
}

void TestDesktop::readOnlyStore() {
    QFETCH(bool, wholeFolder);
    test::IsolatedSettings settings;
    QVERIFY(storeOptions(settings, {{prefs::kPlayClick.key, text(false)},
                                    {prefs::kPlayDoubleClick.key, text(true)},
                                    {prefs::kShowSearchBar.key, text(true)}}));
    const QByteArray before = readBytes(settings.configFile());
    ImmutableGuard guard(wholeFolder ? QFileInfo(settings.configFile()).path()
                                     : settings.configFile());
    if (!guard.applied()) QSKIP("this file system cannot make files read-only for root (chattr)");

    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);
    QCOMPARE(marks(*form), (Marks{false, false, true, true}));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    action(*form, "PlaySoundonDoubleClickM")->trigger();
    action(*form, "ShowSearchBar")->trigger();
    QCOMPARE(marks(*form), (Marks{false, true, false, false}));
    QVERIFY(dialogs->messages.isEmpty());
    QCOMPARE(readBytes(settings.configFile()), before);
}

void TestDesktop::alwaysOnTop_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<bool>("onTopAtStart");
    QTest::newRow("nothing stored") << Stored() << false;
    QTest::newRow("False") << text(false) << false;
    QTest::newRow("True") << text(true) << true;
    QTest::newRow("garbage") << Stored("on") << false;
}

void TestDesktop::alwaysOnTop() {
    QFETCH(Stored, stored);
    QFETCH(bool, onTopAtStart);

    test::IsolatedSettings settings;
    QVERIFY(storeOptions(settings, {{prefs::kOnTop.key, stored}}));
    TempProgramFolder folder;
    folder.createCatalogue();
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>());
    QAction* item = action(*form, "AlwaysOnTopM");
    // A stored "True" sets the mark and puts the window on top as well.
    QCOMPARE(item->isChecked(), onTopAtStart);
    QCOMPARE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTopAtStart);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QRect geometry = form->geometry();
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("kept"));

    for (bool onTop : {!onTopAtStart, onTopAtStart}) {
        item->trigger();
        QCOMPARE(item->isChecked(), onTop);
        QCOMPARE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        QCOMPARE(storedText(settings, prefs::kOnTop.key), text(onTop));
        QVERIFY(form->isVisible());
        QCOMPARE(form->geometry(), geometry);
    }
    QCOMPARE(form->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), QStringLiteral("kept"));
    QCOMPARE(storedText(settings, prefs::kPlayClick.key), Stored());
}

void TestDesktop::aboutBox() {
    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto form = test::makeForm(folder, dialogs);

    action(*form, "AboutMMMM")->trigger();
    QCOMPARE(dialogs->messages.size(), 1);
    const ScriptedDialogs::Message& box = dialogs->messages.first();
    QCOMPARE(box.title, QStringLiteral("Kalvero 2.1"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.text, window::Form1::aboutText());

    // Four lines joined by CR LF, none after the last; no other breaks.
    QCOMPARE(box.text.count(QLatin1String("\r\n")), 3);
    QCOMPARE(box.text.count(QLatin1Char('\n')), 3);
    QCOMPARE(box.text.count(QLatin1Char('\r')), 3);
    const QStringList lines = box.text.split(QLatin1String("\r\n"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], box.title);
    const QString author = QString::fromUtf8(prefs::kAuthor);
    const QString email = QString::fromUtf8(prefs::kSupportEmail);
    QVERIFY(!author.trimmed().isEmpty());
    QVERIFY(email.contains(QLatin1Char('@')));
    QCOMPARE(lines[1], QLatin1String("Written by: ") + author);
    QCOMPARE(lines[2], QLatin1String("Email: ") + email);

    // The host of the Help address, without a scheme, then exactly one blank.
    const QUrl site(QString::fromUtf8(prefs::kWebAddress));
    QVERIFY(site.isValid());
    QVERIFY(!site.host().isEmpty());
    QCOMPARE(lines[3], QLatin1String("Web Site: ") + site.host() + QLatin1Char(' '));
    QVERIFY(!lines[3].endsWith(QLatin1String("  ")));
    QVERIFY(!lines[3].contains(QLatin1String("://")));
    // The caption's domain is the same maker's.
    const QString domain = QString::fromUtf8(prefs::kDomain);
    QCOMPARE(form->windowTitle(), QLatin1String("Kalvero 2.1 - ") + domain);
    QVERIFY(site.host() == domain || site.host().endsWith(QLatin1Char('.') + domain));
    QVERIFY(email.endsWith(QLatin1Char('@') + domain));
    QVERIFY(dialogs->openedUrls.isEmpty());
}

void TestDesktop::help_data() {
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<bool>("browserOpens");
    for (const char* control : {"Command4", "HelpM", "HelpMMMMMMMMMM"}) {
        QTest::addRow("%s, browser opens", control) << QByteArray(control) << true;
        QTest::addRow("%s, browser fails", control) << QByteArray(control) << false;
    }
}

void TestDesktop::help() {
    QFETCH(QByteArray, control);
    QFETCH(bool, browserOpens);

    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    dialogs->openUrlSucceeds = browserOpens;
    auto form = test::makeForm(folder, dialogs);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    auto press = [&] {
        if (control == "Command4") {
            auto* button = form->findChild<QPushButton*>(QStringLiteral("Command4"));
            QVERIFY(button);
            QCOMPARE(button->text(), QStringLiteral("Help"));
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QAction* item = action(*form, control.constData());
            QCOMPARE(item->text(), QStringLiteral("Help"));
            item->trigger();
        }
    };
    // Twice: nothing stops a second launch.
    press();
    press();

    const QUrl site(QString::fromUtf8(prefs::kWebAddress));
    QCOMPARE(dialogs->openedUrls, (QList<QUrl>{site, site}));
    QVERIFY(site.scheme() == QLatin1String("http") || site.scheme() == QLatin1String("https"));
    QCOMPARE(site.host(), QString::fromUtf8(prefs::kWebHost));
    if (browserOpens) {
        QVERIFY(dialogs->messages.isEmpty());
    } else {
        QCOMPARE(dialogs->messages.size(), 2);
        for (const ScriptedDialogs::Message& box : dialogs->messages) {
            QCOMPARE(box.title, QStringLiteral("Kalvero 2.1"));
            QVERIFY2(box.text.contains(site.toString()), qPrintable(box.text));
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
    }
    QVERIFY(!QFileInfo::exists(settings.configFile()));
}

void TestDesktop::trayIconPresses_data() {
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("left press") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("right press") << QSystemTrayIcon::Context << true;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
    QTest::newRow("middle press") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestDesktop::trayIconPresses() {
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, shows);

    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue({Entry{0, QStringLiteral("Звук"), QStringLiteral("/x.wav"), {}, {}},
                            Entry{0, QStringLiteral("音"), QStringLiteral("/y.wav"), {}, {}}});
    window::Form1Services services;
    services.trayAvailable = [] { return true; };
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>(), std::move(services));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("typed 'é' 100%"));
    QSignalSpy statements(form.get(), &window::Form1::statementIssued);

    auto* minimize = form->findChild<QPushButton*>(QStringLiteral("Comand8"));
    QCOMPARE(minimize->text(), QStringLiteral("Minimize"));
    QTest::mouseClick(minimize, Qt::LeftButton);
    QVERIFY(form->isHidden());
    QSystemTrayIcon* icon = form->trayIcon();
    QVERIFY(icon);
    QVERIFY(icon->isVisible());
    QCOMPARE(icon->toolTip(), QStringLiteral("Kalvero 2.1"));
    QCOMPARE(icon->icon().cacheKey(), form->windowIcon().cacheKey());
    // Drawn from the one SVG in every size the launcher installs.
    const QList<QSize> sizes = form->windowIcon().availableSizes();
    for (int side : {16, 32, 48, 64, 128, 256}) QVERIFY(sizes.contains(QSize(side, side)));
    QVERIFY(!icon->contextMenu());

    emit icon->activated(reason);
    QCOMPARE(form->isVisible(), shows);
    if (!shows) {
        // A left press still brings it back.
        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(form->isVisible());
    }
    // As it was: nothing reloaded, nothing lost, and the icon stays.
    QCOMPARE(statements.size(), 0);
    QCOMPARE(form->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(),
             QStringLiteral("typed 'é' 100%"));
    QCOMPARE(form->list()->count(), 2);
    QVERIFY(!form->isMinimized());
    QCOMPARE(form->trayIcon(), icon);
    QVERIFY(icon->isVisible());

    // A press while the window shows changes nothing.
    emit icon->activated(reason);
    QVERIFY(form->isVisible());
    QVERIFY(!QFileInfo::exists(settings.configFile()));
}

void TestDesktop::minimizeTwiceKeepsOneIcon() {
    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue();
    window::Form1Services services;
    services.trayAvailable = [] { return true; };
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>(), std::move(services));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    auto* minimize = form->findChild<QPushButton*>(QStringLiteral("Comand8"));

    QTest::mouseClick(minimize, Qt::LeftButton);
    QSystemTrayIcon* first = form->trayIcon();
    QVERIFY(first);
    emit first->activated(QSystemTrayIcon::Trigger);
    QVERIFY(form->isVisible());
    QTest::mouseClick(minimize, Qt::LeftButton);
    QVERIFY(form->isHidden());
    QCOMPARE(form->trayIcon(), first);
    QCOMPARE(form->findChildren<QSystemTrayIcon*>().size(), 1);
    emit first->activated(QSystemTrayIcon::Context);
    QVERIFY(form->isVisible());
}

void TestDesktop::minimizeWithoutTray() {
    test::IsolatedSettings settings;
    TempProgramFolder folder;
    folder.createCatalogue();
    int asked = 0;
    window::Form1Services services;
    services.trayAvailable = [&asked] {
        ++asked;
        return false;
    };
    auto form = test::makeForm(folder, std::make_shared<ScriptedDialogs>(), std::move(services));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("Comand8")), Qt::LeftButton);
    // Hiding would leave no way back: minimised to the taskbar instead.
    QVERIFY(asked > 0);
    QTRY_VERIFY(form->isMinimized());
    QVERIFY(!form->isHidden());
    QVERIFY(!form->trayIcon());
    QVERIFY(form->findChildren<QSystemTrayIcon*>().isEmpty());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
