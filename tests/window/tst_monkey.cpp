// Random use of the whole window: ten thousand actions drawn from one fixed
// seed against a catalogue of a thousand entries. Typing (hostile text
// included) and pasting into every box, clicks on buttons, rows and headers,
// right presses and picks from the context menu, keys in the list, options,
// resizing and minimising, with message boxes and the file dialog answered at
// random. Some stretches let window events run at every clock check of a load
// and queue actions just before one, so that they arrive while it reads.
//
// Along the way every finished load is compared with a mirror of the catalogue
// that the test keeps itself, every delete with the selection tag it was
// confirmed on, every play with the row it came from, and every message with
// what could have caused it. At the end the list must show exactly what the
// catalogue and the search boxes say, and the catalogue must hold exactly the
// mirror. A fault stops the run and names the action and the ones before it.

#include "playback/launcher.h"
#include "playback/playercommand.h"
#include "testsupport.h"
#include "window/listview1.h"
#include "window/soundlistmodel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

using namespace kalvero;
using kalvero::test::Entry;
using kalvero::test::ScriptedDialogs;
using kalvero::test::TempProgramFolder;

namespace {

constexpr quint32 kSeed = 0x4B414C56;
// A hunt by hand may try other seeds: KALVERO_MONKEY_SEED=<number>.
quint32 runSeed() {
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("KALVERO_MONKEY_SEED").toUInt(&ok, 0);
    return ok ? seed : kSeed;
}
constexpr int kActions = 10000;
constexpr int kCatalogueEntries = 1000;
// How many of the last actions a fault report lists.
constexpr size_t kRecentActions = 25;

const QString kDeleteQuestion = QStringLiteral("Are you sure you want to delete this item?");
const QString kNoFileRefusal =
    QStringLiteral("Could you please enter the file name for a sound file.");

// Every draw of the run comes from here, so one seed replays all of it. The
// engine's output is fixed by the standard; the reductions are our own, so the
// run is the same with every standard library.
class Dice {
public:
    explicit Dice(quint32 seed) : engine_(seed) {}
    int below(int n) { return n <= 1 ? 0 : static_cast<int>(engine_() % static_cast<quint32>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool percent(int p) { return below(100) < p; }
    template <typename T>
    const T& pick(const QList<T>& items) {
        return items.at(below(static_cast<int>(items.size())));
    }

private:
    std::mt19937 engine_;
};

// The four texts of an entry, in the order of the boxes and the list's columns.
constexpr QString Entry::*kTexts[] = {&Entry::name, &Entry::file, &Entry::category,
                                      &Entry::description};

const QString& field(const Entry& e, int k) { return e.*kTexts[k]; }
QString& field(Entry& e, int k) { return e.*kTexts[k]; }

// What the catalogue can keep as typed: no NUL, no half of a surrogate pair.
bool storable(const QString& text) {
    return !text.contains(QChar(0)) && QStringView(text).isValidUtf16();
}

std::string_view view(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// A text as a fault report can show it: short, every invisible character spelt out.
QString printable(const QString& text, qsizetype limit = 40) {
    QString out;
    for (qsizetype i = 0; i < text.size() && i < limit; ++i) {
        const QChar c = text.at(i);
        if (c.isPrint() && c != QLatin1Char('\\'))
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    if (text.size() > limit) out += QStringLiteral("...(%1 chars)").arg(text.size());
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// The test's own reading of the matching rules, written apart from the
// program's: every code point folded with Qt's simple case folding, then
// compared as code points.
QList<char32_t> folded(const QString& text) {
    QList<char32_t> out;
    for (const char32_t c : text.toUcs4()) out << QChar::toCaseFolded(c);
    return out;
}

// One entry as the test expects the catalogue to hold it, with its texts as
// UTF-8 for matching against the search boxes and the list's bytes.
struct Mirrored {
    Entry entry;
    std::array<QByteArray, 4> utf8;
    std::array<QList<char32_t>, 4> foldedTexts;

    explicit Mirrored(const Entry& e) : entry(e) {
        for (int k = 0; k < 4; ++k) utf8[k] = field(e, k).toUtf8();
        for (int k = 0; k < 4; ++k) foldedTexts[k] = folded(field(e, k));
    }
};

// LIKE over folded code points: % any run, _ any one character.
bool likeMatches(const QList<char32_t>& pattern, const QList<char32_t>& text) {
    qsizetype p = 0, t = 0, star = -1, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == U'%') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == U'_' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'%') ++p;
    return p == pattern.size();
}

// One search box's demand on its column: the text anywhere in it, % and _ as
// wildcards, letter case ignored; a NULL column never matches.
struct ColumnFilter {
    int column;
    QList<char32_t> pattern;
};

std::vector<ColumnFilter> filtersFor(const std::array<QString, 4>& boxes) {
    std::vector<ColumnFilter> filters;
    for (int k = 0; k < 4; ++k) {
        if (boxes[k].isEmpty()) continue;
        filters.push_back({k, folded(QLatin1Char('%') + boxes[k] + QLatin1Char('%'))});
    }
    return filters;
}

bool passes(const Entry& e, const std::array<QList<char32_t>, 4>& foldedTexts,
            const std::vector<ColumnFilter>& filters) {
    for (const ColumnFilter& f : filters) {
        if (field(e, f.column).isNull()) return false;
        if (!likeMatches(f.pattern, foldedTexts[f.column])) return false;
    }
    return true;
}

// Answers every message box with one of its buttons and every file dialog
// with a path or a cancel, all drawn from the run's dice.
class RandomDialogs : public ScriptedDialogs {
public:
    explicit RandomDialogs(Dice& dice) : dice_(dice) {}

    QMessageBox::StandardButton message(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton,
                                        QMessageBox::Icon icon) override {
        QList<QMessageBox::StandardButton> offered;
        for (auto b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok}) {
            if (buttons.testFlag(b)) offered << b;
        }
        if (offered.isEmpty()) offered << QMessageBox::Ok;
        answers.push_back(dice_.pick(offered));
        const auto answer =
            ScriptedDialogs::message(parent, title, text, buttons, defaultButton, icon);
        if (heard) heard(messages.back(), answer);
        return answer;
    }

    std::optional<QString> openFileName(QWidget* parent) override {
        if (choosePath && !dice_.percent(30))
            files.push_back(choosePath());
        else
            files.push_back(QString());
        lastFileAnswer = files.back().isNull() ? std::nullopt : std::optional(files.back());
        return ScriptedDialogs::openFileName(parent);
    }

    std::function<void(const Message&, QMessageBox::StandardButton)> heard;
    std::function<QString()> choosePath;
    std::optional<QString> lastFileAnswer;

private:
    Dice& dice_;
};

class Monkey {
public:
    Monkey(Dice& dice, const TempProgramFolder& folder, QList<Entry> catalogue);

    // Runs one action chosen at random. `nesting`: the stretch lets events run
    // at every clock check of a load and queues actions before some of them.
    void step(int number, bool nesting);
    // The final Filter, and the list and catalogue compared with what they
    // should hold. Fails the running test on any difference.
    void finish();

    bool faulted() const { return !faults_.isEmpty() || QTest::currentTestFailed(); }
    QString report() const;
    QString figures() const;
    window::Form1& form() { return *form_; }

private:
    enum class Kind {
        Type,
        Paste,
        Erase,
        Button,
        Row,
        RowMenu,
        ListKeys,
        Header,
        Option,
        Resize,
        Minimise,
        Idle
    };

    void act(Kind kind, bool checked);
    Kind drawKind(bool reloadsOnly);
    void queueActions();
    void queueAction(int pausesToWait);

    void typeText();
    void pasteText();
    void eraseText();
    void clickButton(bool checked);
    void clickRow(bool checked);
    void rowMenu(bool checked);
    void listKeys();
    void clickHeader(bool checked);
    void pickOption(bool checked);
    void resize();
    void minimise(bool checked);
    void pickFromMenu(bool checked);
    // The plays of the action: `expected` of them, each of `file`.
    void checkPlays(size_t expected, const QString& file);

    QLineEdit* drawBox(bool searchOnly = false);
    // A piece of text to type; `column` (0 to 3) asks for mostly pieces of
    // that column's stored texts, as a search does.
    QString fragment(int column = -1);
    QString longText();
    QPoint pointForRow(int position);
    void pressRow(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int position, QPoint at,
                  bool checked);
    int firstSelected() const;
    int lastSelected() const;
    bool listShows(qint64 id) const;
    std::array<QString, 4> searchTexts() const;
    std::array<QString, 4> entryTexts() const;
    // The statements run during the action that begin with `head`.
    QStringList statementsOfThisAction(const char* head) const;

    void onStatement(const QString& sql);
    void onLoadFinished();
    void onMessage(const ScriptedDialogs::Message& message, QMessageBox::StandardButton answer);
    void onRowsRemoving(int first, int last);
    void settle();
    void resolvePending(bool failed);
    void note(const QString& what);
    void fault(const QString& what);

    template <typename T>
    T* control(const char* name) const {
        T* found = form_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("the window has no control %s", name);
        return found;
    }

    Dice& dice_;
    const TempProgramFolder& folder_;
    std::shared_ptr<RandomDialogs> dialogs_;
    bool trayAvailable_ = false;
    std::vector<playback::PlayerCommand> plays_;
    std::unique_ptr<window::Form1> form_;
    std::unique_ptr<QAbstractItemModelTester> tester_;

    std::array<QLineEdit*, 4> entryBoxes_{};
    std::array<QLineEdit*, 4> searchBoxes_{};
    QMenu* rmenu_ = nullptr;

    // The catalogue as it should be.
    std::map<qint64, Mirrored> mirror_;
    qint64 nextId_ = 1;
    std::optional<Entry> pendingInsert_;
    std::optional<qint64> pendingDelete_;
    // The entry a confirmed delete must name, worked out when it was confirmed.
    std::optional<qint64> expectedDelete_;
    bool deleteConfirmed_ = false;
    std::optional<qint64> awaitingRemoval_;

    // The select of the load that runs: its search texts and its order.
    struct LoadRequest {
        std::array<QString, 4> search;
        int sortColumn = 1;
        bool descending = false;
    };
    LoadRequest request_;
    qint16 remembered_ = 1;
    bool requestsMerged_ = false;
    QStringList statementsThisAction_;

    int number_ = 0;
    int queuedOutstanding_ = 0;
    std::deque<QString> recent_;
    QStringList faults_;

    struct Counts {
        int actions = 0;
        int queued = 0;
        int queuedDuringLoad = 0;
        int queuedOverRows = 0;
        int loads = 0;
        int inserts = 0;
        int deletes = 0;
        int deleteQuestions = 0;
        int refusals = 0;
        int plays = 0;
        int menuPopups = 0;
        int minimises = 0;
        qint64 listedRows = 0;
        int emptyList = 0;
    } counts_;
};

Monkey::Monkey(Dice& dice, const TempProgramFolder& folder, QList<Entry> catalogue)
    : dice_(dice), folder_(folder), dialogs_(std::make_shared<RandomDialogs>(dice)) {
    for (const Entry& e : catalogue) {
        mirror_.emplace(e.id, Mirrored(e));
        nextId_ = std::max(nextId_, e.id + 1);
    }
    dialogs_->heard = [this](const ScriptedDialogs::Message& m, QMessageBox::StandardButton a) {
        onMessage(m, a);
    };
    dialogs_->choosePath = [this] {
        if (dice_.percent(70))
            return QStringLiteral("/home/user/Sounds/") + fragment() + QStringLiteral(".wav");
        return fragment();
    };

    window::Form1Services services;
    services.launcher = playback::Launcher([this](const playback::PlayerCommand& command) {
        plays_.push_back(command);
        ++counts_.plays;
        return true;
    });
    services.trayAvailable = [this] { return trayAvailable_; };
    form_ = test::makeForm(folder, dialogs_, std::move(services));
    // Watch every change of the list's rows from here on.
    tester_ = std::make_unique<QAbstractItemModelTester>(
        form_->list()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);

    const char* entryNames[] = {"Text1", "Text2", "Text3", "Text4"};
    const char* searchNames[] = {"Text5", "Text7", "Text8", "Text9"};
    for (int k = 0; k < 4; ++k) {
        entryBoxes_[k] = control<QLineEdit>(entryNames[k]);
        searchBoxes_[k] = control<QLineEdit>(searchNames[k]);
    }
    rmenu_ = control<QMenu>("Rmenu");
    QObject::connect(form_.get(), &window::Form1::statementIssued, form_.get(),
                     [this](const QString& sql) { onStatement(sql); });
    QObject::connect(form_.get(), &window::Form1::loadFinished, form_.get(),
                     [this] { onLoadFinished(); });
    QObject::connect(form_.get(), &window::Form1::loadAbandoned, form_.get(),
                     [this] { requestsMerged_ = true; });
    QObject::connect(
        form_->list()->model(), &QAbstractItemModel::rowsAboutToBeRemoved, form_.get(),
        [this](const QModelIndex&, int first, int last) { onRowsRemoving(first, last); });

    form_->show();
    if (!QTest::qWaitForWindowExposed(form_.get())) fault(QStringLiteral("window not exposed"));
    if (form_->rememberedSort() != 1)
        fault(
            QStringLiteral("start-up left the remembered sort at %1").arg(form_->rememberedSort()));
    request_ = LoadRequest{};
    onLoadFinished();  // the start-up load
}

// ---- drawing actions --------------------------------------------------------

Monkey::Kind Monkey::drawKind(bool reloadsOnly) {
    if (reloadsOnly) {
        // Actions that start a load, for queued actions to arrive in.
        return dice_.percent(70) ? Kind::Button : Kind::Header;
    }
    struct Weighted {
        Kind kind;
        int weight;
    };
    static const Weighted table[] = {
        {Kind::Type, 30},  {Kind::Paste, 5},   {Kind::Erase, 8},    {Kind::Button, 22},
        {Kind::Row, 14},   {Kind::RowMenu, 8}, {Kind::ListKeys, 3}, {Kind::Header, 6},
        {Kind::Option, 4}, {Kind::Resize, 3},  {Kind::Minimise, 1}, {Kind::Idle, 1},
    };
    int total = 0;
    for (const Weighted& w : table) total += w.weight;
    int roll = dice_.below(total);
    for (const Weighted& w : table) {
        if (roll < w.weight) return w.kind;
        roll -= w.weight;
    }
    return Kind::Idle;
}

void Monkey::step(int number, bool nesting) {
    number_ = number;
    ++counts_.actions;
    statementsThisAction_.clear();
    plays_.clear();
    bool reloadsOnly = false;
    if (nesting && dice_.percent(40)) {
        queueActions();
        reloadsOnly = dice_.percent(60);
    }
    const Kind kind = drawKind(reloadsOnly);
    // Checks that assume nothing else ran in between hold only for an action
    // of its own: no queued action waiting, no load running.
    const bool checked = queuedOutstanding_ == 0 && !form_->isLoading();
    act(kind, checked);
    settle();
    const int listed = form_->list()->count();
    counts_.listedRows += listed;
    if (listed == 0) ++counts_.emptyList;
}

void Monkey::queueActions() {
    const int n = dice_.between(1, 3);
    for (int i = 0; i < n; ++i) {
        ++queuedOutstanding_;
        // Some wait for later pauses of a load, so that actions arrive while
        // it has shown nothing yet and while it shows its first rows.
        queueAction(dice_.below(4));
    }
}

void Monkey::queueAction(int pausesToWait) {
    QTimer::singleShot(0, form_.get(), [this, pausesToWait] {
        if (pausesToWait > 0 && form_->isLoading()) {
            queueAction(pausesToWait - 1);
            return;
        }
        --queuedOutstanding_;
        ++counts_.queued;
        if (form_->isLoading()) {
            ++counts_.queuedDuringLoad;
            if (form_->list()->count() > 0) ++counts_.queuedOverRows;
        }
        act(drawKind(false), false);
    });
}

void Monkey::act(Kind kind, bool checked) {
    switch (kind) {
        case Kind::Type:
            typeText();
            break;
        case Kind::Paste:
            pasteText();
            break;
        case Kind::Erase:
            eraseText();
            break;
        case Kind::Button:
            clickButton(checked);
            break;
        case Kind::Row:
            clickRow(checked);
            break;
        case Kind::RowMenu:
            rowMenu(checked);
            break;
        case Kind::ListKeys:
            listKeys();
            break;
        case Kind::Header:
            clickHeader(checked);
            break;
        case Kind::Option:
            pickOption(checked);
            break;
        case Kind::Resize:
            resize();
            break;
        case Kind::Minimise:
            minimise(checked);
            break;
        case Kind::Idle:
            note(QStringLiteral("let events run"));
            QCoreApplication::processEvents();
            break;
    }
}

// After each action: let queued actions and repaints run, then settle what
// the action left open.
void Monkey::settle() {
    for (int i = 0; i < 100 && (queuedOutstanding_ > 0 || form_->isLoading()); ++i)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    if (queuedOutstanding_ > 0) fault(QStringLiteral("queued actions never ran"));
    if (form_->isLoading()) fault(QStringLiteral("a load is still running after the action"));
    resolvePending(false);
    if (awaitingRemoval_)
        fault(QStringLiteral("the delete of %1 left its row in the list").arg(*awaitingRemoval_));
    if (deleteConfirmed_ && expectedDelete_)
        fault(QStringLiteral("a delete of %1 was confirmed, but no delete ran")
                  .arg(*expectedDelete_));
    deleteConfirmed_ = false;
    expectedDelete_.reset();
    if (rmenu_->isVisible()) fault(QStringLiteral("the context menu is still open"));
    if (!form_->isVisible()) fault(QStringLiteral("the window stayed hidden"));
}

// ---- texts ------------------------------------------------------------------

QString Monkey::fragment(int column) {
    static const QList<QString> hostile = {
        QStringLiteral("'"),
        QStringLiteral("''"),
        QStringLiteral("%"),
        QStringLiteral("_"),
        QStringLiteral("%_"),
        QStringLiteral("\""),
        QStringLiteral("\\"),
        QStringLiteral("--"),
        QStringLiteral(";"),
        QStringLiteral(" "),
        QStringLiteral("  "),
        QStringLiteral("é"),
        QStringLiteral("É"),
        QStringLiteral("e\u0301"),
        QStringLiteral("ß"),
        QStringLiteral("SS"),
        QStringLiteral("ñ"),
        QStringLiteral("Ä"),
        QStringLiteral("Звук"),
        QStringLiteral("зВУК"),
        QStringLiteral("ё"),
        QStringLiteral("😀"),
        QStringLiteral("🎵"),
        QStringLiteral("שלום"),
        QStringLiteral("\u202E"),
        QStringLiteral("O'Neil's"),
        QStringLiteral("100%"),
        QStringLiteral("_a_"),
        QStringLiteral("' or '1'='1"),
        QStringLiteral("'); delete from SoundData; --"),
        QStringLiteral("\" or \"\"=\""),
        QStringLiteral("[Name]"),
        QStringLiteral("*"),
        QStringLiteral("?"),
        QStringLiteral("\t"),
    };
    const int roll = dice_.below(100);
    if (roll < 2) {
        // What the catalogue cannot keep as typed.
        static const QList<QString> unstorable = {QString(QChar(0)), QString(QChar(0xD800)),
                                                  QString(QChar(0xDC00)) + QStringLiteral("x")};
        return dice_.pick(unstorable);
    }
    if (roll < (column >= 0 ? 75 : 35) && !mirror_.empty()) {
        // A piece of a stored text, so that filters find something; in a
        // random letter case.
        auto it = mirror_.begin();
        std::advance(it, dice_.below(static_cast<int>(mirror_.size())));
        const QString& source = field(it->second.entry, column >= 0 ? column : dice_.below(4));
        if (source.isEmpty()) return QStringLiteral("a");
        qsizetype from = dice_.below(static_cast<int>(std::min<qsizetype>(source.size(), 200)));
        qsizetype length = dice_.between(1, 6);
        if (from > 0 && source.at(from).isLowSurrogate()) --from;
        if (from + length < source.size() && source.at(from + length).isLowSurrogate()) ++length;
        QString piece = source.mid(from, length);
        switch (dice_.below(3)) {
            case 0:
                return piece.toUpper();
            case 1:
                return piece.toLower();
            default:
                return piece;
        }
    }
    if (roll < 85) return dice_.pick(hostile);
    return QString(QChar(QLatin1Char("abcdeilnorst0123456789"[dice_.below(22)])));
}

QString Monkey::longText() {
    QString text;
    const int target = dice_.percent(10) ? dice_.between(10000, 40000) : dice_.between(300, 3000);
    while (text.size() < target) text += fragment();
    return text;
}

QLineEdit* Monkey::drawBox(bool searchOnly) {
    const bool searchShown = searchBoxes_[0]->isVisible();
    if (searchOnly || (searchShown && dice_.percent(40))) {
        if (!searchShown) return nullptr;
        return searchBoxes_[dice_.below(4)];
    }
    // The sound file box most, as Add needs it.
    static const int weights[] = {0, 1, 1, 1, 2, 3};
    return entryBoxes_[weights[dice_.below(6)]];
}

std::array<QString, 4> Monkey::searchTexts() const {
    return {searchBoxes_[0]->text(), searchBoxes_[1]->text(), searchBoxes_[2]->text(),
            searchBoxes_[3]->text()};
}

QStringList Monkey::statementsOfThisAction(const char* head) const {
    QStringList out;
    for (const QString& sql : statementsThisAction_) {
        if (sql.startsWith(QLatin1String(head))) out << sql;
    }
    return out;
}

std::array<QString, 4> Monkey::entryTexts() const {
    return {entryBoxes_[0]->text(), entryBoxes_[1]->text(), entryBoxes_[2]->text(),
            entryBoxes_[3]->text()};
}

void Monkey::typeText() {
    QLineEdit* box = drawBox();
    const auto found = std::find(searchBoxes_.begin(), searchBoxes_.end(), box);
    const int column =
        found == searchBoxes_.end() ? -1 : static_cast<int>(found - searchBoxes_.begin());
    const bool search = column >= 0;
    // A search text is mostly typed afresh, one piece at a time, or the
    // filters soon match nothing at all.
    const bool over = search && dice_.percent(50);
    QString text;
    const int pieces = search ? 1 : dice_.between(1, 3);
    for (int i = 0; i < pieces; ++i) text += fragment(column);
    note(QStringLiteral("type %1 into %2%3")
             .arg(printable(text), box->objectName(),
                  over ? QStringLiteral(" over all") : QString()));
    if (over) QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    // One key per code point, as a keyboard sends them.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n;
    }
}

// As a paste does: over the selection or at the cursor, control characters and all.
void Monkey::pasteText() {
    QLineEdit* box = drawBox();
    const QString text = dice_.percent(50) ? longText() : fragment();
    const bool replace = dice_.percent(50);
    note(QStringLiteral("paste %1 into %2%3")
             .arg(printable(text), box->objectName(),
                  replace ? QStringLiteral(" over all") : QString()));
    if (replace) box->selectAll();
    box->insert(text);
}

void Monkey::eraseText() {
    QLineEdit* box = drawBox(dice_.percent(60));
    if (!box) box = drawBox();
    switch (dice_.below(3)) {
        case 0: {
            const int n = dice_.between(1, 4);
            note(QStringLiteral("backspace x%1 in %2").arg(n).arg(box->objectName()));
            for (int i = 0; i < n; ++i) QTest::keyClick(box, Qt::Key_Backspace);
            break;
        }
        case 1:
            note(QStringLiteral("select all and delete in %1").arg(box->objectName()));
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Delete);
            break;
        default:
            note(QStringLiteral("home and delete in %1").arg(box->objectName()));
            QTest::keyClick(box, Qt::Key_Home);
            QTest::keyClick(box, Qt::Key_Delete);
            break;
    }
}

// ---- buttons ----------------------------------------------------------------

void Monkey::clickButton(bool checked) {
    struct Button {
        const char* name;
        int weight;
    };
    static const Button buttons[] = {{"Command1", 6}, {"Command2", 2}, {"Command3", 3},
                                     {"Command4", 1}, {"Command5", 5}, {"Command7", 4},
                                     {"Check1", 3}};
    int total = 0;
    for (const Button& b : buttons) total += b.weight;
    int roll = dice_.below(total);
    const char* name = buttons[0].name;
    for (const Button& b : buttons) {
        if (roll < b.weight) {
            name = b.name;
            break;
        }
        roll -= b.weight;
    }
    QAbstractButton* button = control<QAbstractButton>(name);
    if (!button->isVisible()) {
        // The search bar is hidden: what the user can reach instead.
        button = control<QAbstractButton>(dice_.percent(50) ? "Command1" : "Command2");
    }
    const QString which = button->objectName();
    note(QStringLiteral("click %1 (%2)").arg(which, button->text()));

    const std::array<QString, 4> entryBefore = entryTexts();
    const int messagesBefore = static_cast<int>(dialogs_->messages.size());
    QTest::mouseClick(button, Qt::LeftButton);
    if (!checked) return;

    // The last load is by ID, ascending; Show All with Auto Filter ticked also
    // loads once for each box it empties.
    auto loadsBy1 = [this](bool once = true) {
        const qsizetype loads = statementsOfThisAction("select ").size();
        return (once ? loads == 1 : loads >= 1) && request_.sortColumn == 1 && !request_.descending;
    };
    if (which == QLatin1String("Command1")) {
        const bool refused =
            entryBefore[1].isEmpty() || std::any_of(entryBefore.begin(), entryBefore.end(),
                                                    [](const QString& t) { return !storable(t); });
        if (refused) {
            if (dialogs_->messages.size() != messagesBefore + 1 || !statementsThisAction_.isEmpty())
                fault(QStringLiteral("Add with a refused panel did not just say so"));
            if (entryTexts() != entryBefore)
                fault(QStringLiteral("a refused Add changed the panel"));
        } else {
            if (entryTexts() != std::array<QString, 4>{})
                fault(QStringLiteral("the panel is not empty after an Add"));
            if (statementsThisAction_.size() != 2 || !loadsBy1())
                fault(QStringLiteral("Add ran %1 instead of an insert and a reload")
                          .arg(statementsThisAction_.join(QLatin1String(" | "))));
        }
    } else if (which == QLatin1String("Command2")) {
        if (entryTexts() != std::array<QString, 4>{}) fault(QStringLiteral("Clear left text"));
        if (!loadsBy1()) fault(QStringLiteral("Clear did not reload by ID"));
    } else if (which == QLatin1String("Command3")) {
        const QString expected = dialogs_->lastFileAnswer.value_or(entryBefore[1]);
        if (entryBoxes_[1]->text() != expected)
            fault(QStringLiteral("Browse left %1 in Text2, expected %2")
                      .arg(printable(entryBoxes_[1]->text()), printable(expected)));
    } else if (which == QLatin1String("Command5")) {
        if (!loadsBy1()) fault(QStringLiteral("Filter did not reload by ID"));
    } else if (which == QLatin1String("Command7")) {
        if (searchTexts() != std::array<QString, 4>{}) fault(QStringLiteral("Show All left text"));
        if (!loadsBy1(false)) fault(QStringLiteral("Show All did not reload by ID"));
    }
}

// ---- the list ---------------------------------------------------------------

int Monkey::firstSelected() const {
    const window::ListView1* list = form_->list();
    for (int p = 1; p <= list->count(); ++p) {
        if (test::isSelected(list, p)) return p;
    }
    return 0;
}

int Monkey::lastSelected() const {
    const window::ListView1* list = form_->list();
    for (int p = list->count(); p >= 1; --p) {
        if (test::isSelected(list, p)) return p;
    }
    return 0;
}

bool Monkey::listShows(qint64 id) const {
    const window::ListView1* list = form_->list();
    const QString text = QString::number(id);
    for (int p = 1; p <= list->count(); ++p) {
        if (list->itemText(p) == text) return true;
    }
    return false;
}

QPoint Monkey::pointForRow(int position) {
    window::ListView1* list = form_->list();
    const QModelIndex index = list->model()->index(position - 1, dice_.between(1, 4));
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    // A list squeezed smaller than a row: press wherever there is room.
    if (!list->viewport()->rect().contains(at)) return QPoint();
    return at;
}

// Presses a button over the list and checks the selection tag the press
// recorded and the context menu; closes the menu if it opened.
void Monkey::pressRow(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int position,
                      QPoint at, bool checked) {
    window::ListView1* list = form_->list();
    const QString tagBefore = form_->selectionTag();
    QTest::mousePress(list->viewport(), button, modifiers, at);
    const bool opened = rmenu_->isVisible();
    if (opened) ++counts_.menuPopups;
    if (checked) {
        const int last = lastSelected();
        const QString expected =
            last > 0 ? list->itemText(last) + QLatin1Char('-') + QString::number(last) : tagBefore;
        if (form_->selectionTag() != expected)
            fault(QStringLiteral("the tag is %1 after a press on row %2, expected %3")
                      .arg(form_->selectionTag())
                      .arg(position)
                      .arg(expected));
        if (opened != (button == Qt::RightButton))
            fault(QStringLiteral("a %1 press %2 the context menu")
                      .arg(button == Qt::RightButton ? QStringLiteral("right")
                                                     : QStringLiteral("left"),
                           opened ? QStringLiteral("opened") : QStringLiteral("did not open")));
    }
    if (opened) rmenu_->hide();
}

void Monkey::clickRow(bool checked) {
    window::ListView1* list = form_->list();
    const int n = list->count();
    int position = n > 0 && !dice_.percent(5) ? dice_.between(1, n) : 0;
    QPoint at = position > 0 ? pointForRow(position) : QPoint();
    if (at.isNull()) {
        position = 0;
        at = QPoint(dice_.below(std::max(1, list->viewport()->width())),
                    dice_.below(std::max(1, list->viewport()->height())));
    }
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    if (dice_.percent(15)) modifiers = dice_.percent(50) ? Qt::ControlModifier : Qt::ShiftModifier;
    const bool doubleClick = dice_.percent(25);
    note(QStringLiteral("%1 row %2 at (%3,%4)%5")
             .arg(doubleClick ? QStringLiteral("double-click") : QStringLiteral("click"))
             .arg(position)
             .arg(at.x())
             .arg(at.y())
             .arg(modifiers == Qt::NoModifier ? QString() : QStringLiteral(" with a modifier")));
    const bool playClick = control<QAction>("PlayClickM")->isChecked();
    const bool playDouble = control<QAction>("PlaySoundonDoubleClickM")->isChecked();
    const QString file = position > 0 ? list->subItemText(position, 2) : QString();

    pressRow(Qt::LeftButton, modifiers, position, at, checked);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, modifiers, at);
    if (doubleClick) {
        // As the platform delivers one: press, release, press, double click, release.
        pressRow(Qt::LeftButton, modifiers, position, at, checked);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, modifiers, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, modifiers, at);
    }
    if (!checked || position == 0 || modifiers != Qt::NoModifier) return;
    if (!test::isSelected(list, position) || firstSelected() != position)
        fault(QStringLiteral("a click on row %1 did not select it alone").arg(position));
    checkPlays((playClick ? 1 : 0) + (doubleClick && playDouble ? 1 : 0), file);
}

void Monkey::checkPlays(size_t expected, const QString& file) {
    if (plays_.size() != expected)
        fault(QStringLiteral("%1 plays instead of %2").arg(plays_.size()).arg(expected));
    for (const playback::PlayerCommand& command : plays_) {
        if (command.arguments != QStringList{file + QStringLiteral("::tzobrahuxelivmcg")})
            fault(QStringLiteral("played %1 instead of %2")
                      .arg(printable(command.arguments.join(QLatin1Char(' '))), printable(file)));
    }
}

void Monkey::rowMenu(bool checked) {
    window::ListView1* list = form_->list();
    const int n = list->count();
    int position = n > 0 && !dice_.percent(5) ? dice_.between(1, n) : 0;
    QPoint at = position > 0 ? pointForRow(position) : QPoint();
    if (at.isNull()) {
        position = 0;
        at = QPoint(dice_.below(std::max(1, list->viewport()->width())),
                    dice_.below(std::max(1, list->viewport()->height())));
    }
    const bool withControl = dice_.percent(10);
    note(QStringLiteral("right press on row %1%2")
             .arg(position)
             .arg(withControl ? QStringLiteral(" with Ctrl") : QString()));
    pressRow(Qt::RightButton, withControl ? Qt::ControlModifier : Qt::NoModifier, position, at,
             checked);
    QTest::mouseRelease(list->viewport(), Qt::RightButton,
                        withControl ? Qt::ControlModifier : Qt::NoModifier, at);
    if (!dice_.percent(15)) pickFromMenu(checked);
}

void Monkey::pickFromMenu(bool checked) {
    static const char* const items[] = {"MPlayFile", "DeleteMenu", "DeleteMenu", "EditEntry"};
    QAction* action = control<QAction>(items[dice_.below(4)]);
    note(QStringLiteral("pick %1 from the context menu").arg(action->objectName()));
    window::ListView1* list = form_->list();
    const int first = firstSelected();
    const std::array<QString, 4> entryBefore = entryTexts();
    const int countBefore = list->count();
    plays_.clear();
    action->trigger();
    if (!checked) return;
    if (action->objectName() == QLatin1String("MPlayFile")) {
        // The first selected entry plays, or nothing when none is selected.
        checkPlays(first > 0 ? 1 : 0, first > 0 ? list->subItemText(first, 2) : QString());
    } else if (action->objectName() == QLatin1String("EditEntry")) {
        std::array<QString, 4> expected = entryBefore;
        if (first > 0) {
            for (int k = 0; k < 4; ++k) expected[k] = list->subItemText(first, k + 1);
        }
        if (entryTexts() != expected)
            fault(QStringLiteral("Edit Entry did not copy row %1").arg(first));
    } else if (statementsOfThisAction("delete ").size() == 1) {
        if (list->count() != countBefore - 1)
            fault(
                QStringLiteral("a delete left %1 rows of %2").arg(list->count()).arg(countBefore));
    }
}

void Monkey::listKeys() {
    static const Qt::Key keys[] = {Qt::Key_Down, Qt::Key_Up,  Qt::Key_PageDown,
                                   Qt::Key_Home, Qt::Key_End, Qt::Key_Space};
    const Qt::Key key = keys[dice_.below(6)];
    const Qt::KeyboardModifiers modifiers =
        dice_.percent(30) ? Qt::ShiftModifier : Qt::KeyboardModifiers(Qt::NoModifier);
    note(QStringLiteral("key %1 in the list").arg(static_cast<int>(key)));
    QTest::keyClick(form_->list(), key, modifiers);
}

void Monkey::clickHeader(bool checked) {
    window::ListView1* list = form_->list();
    QHeaderView* header = list->header();
    const int sections = header->count();
    const bool beside = sections == 0 || dice_.percent(10);
    QPoint at;
    if (beside) {
        const int end = sections > 0 ? header->sectionViewportPosition(sections - 1) +
                                           header->sectionSize(sections - 1)
                                     : 0;
        at = QPoint(end + 2 + dice_.below(40), header->height() / 2);
    } else {
        // Columns exist only over rows: scroll the column into sight as the
        // user would.
        const int logical = dice_.below(sections);
        list->scrollTo(list->model()->index(0, logical));
        at = QPoint(header->sectionViewportPosition(logical) + header->sectionSize(logical) / 2,
                    header->height() / 2);
    }
    if (!header->viewport()->rect().contains(at)) {
        note(QStringLiteral("no header to click at x %1").arg(at.x()));
        return;
    }
    const int target = header->logicalIndexAt(at);
    note(QStringLiteral("click header %1 at x %2").arg(target + 1).arg(at.x()));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    if (!checked) return;
    const QStringList selects = statementsOfThisAction("select ");
    if (target < 0) {
        if (!selects.isEmpty()) fault(QStringLiteral("a click beside the headers loaded"));
    } else if (header->sectionSize(target) >= 12 || !selects.isEmpty()) {
        // A press near a section's edge grabs the edge to resize it, so a
        // click on the one-twip ID column or a squeezed one need not sort.
        if (selects.size() != 1 || request_.sortColumn != target + 1)
            fault(QStringLiteral("a click on header %1 ran %2")
                      .arg(target + 1)
                      .arg(selects.join(QLatin1String(" | "))));
    }
}

// ---- options, size, minimise --------------------------------------------------

void Monkey::pickOption(bool checked) {
    static const char* const items[] = {"AlwaysOnTopM",  "PlayClickM",    "PlaySoundonDoubleClickM",
                                        "ShowSearchBar", "ShowSearchBar", "ShowSearchBar",
                                        "AboutMMMM",     "HelpM",         "HelpMMMMMMMMMM"};
    QAction* action = control<QAction>(items[dice_.below(9)]);
    note(QStringLiteral("pick option %1").arg(action->objectName()));
    const bool before = action->isChecked();
    action->trigger();
    if (!checked) return;
    if (action->isCheckable() && action->isChecked() == before)
        fault(QStringLiteral("%1 kept its mark").arg(action->objectName()));
    if (action->objectName() == QLatin1String("ShowSearchBar") &&
        control<QGroupBox>("Frameqq2")->isVisible() != action->isChecked())
        fault(QStringLiteral("the search bar does not follow its option"));
    if (action->objectName() == QLatin1String("AlwaysOnTopM") &&
        form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != action->isChecked())
        fault(QStringLiteral("the window's band does not follow Always On Top"));
}

void Monkey::resize() {
    const QSize size(dice_.between(120, 1600), dice_.between(80, 1000));
    note(QStringLiteral("resize to %1x%2").arg(size.width()).arg(size.height()));
    form_->resize(size);
}

void Monkey::minimise(bool checked) {
    trayAvailable_ = dice_.percent(50);
    note(QStringLiteral("Minimize %1 a tray")
             .arg(trayAvailable_ ? QStringLiteral("with") : QStringLiteral("without")));
    ++counts_.minimises;
    QTest::mouseClick(control<QPushButton>("Comand8"), Qt::LeftButton);
    if (checked) {
        if (trayAvailable_ &&
            (!form_->isHidden() || !form_->trayIcon() || !form_->trayIcon()->isVisible()))
            fault(QStringLiteral("Minimize with a tray did not hide into the icon"));
        if (!trayAvailable_ && (form_->isHidden() || !form_->isMinimized()))
            fault(QStringLiteral("Minimize without a tray did not minimise"));
    }
    // And back, as the user would.
    if (form_->isHidden() && form_->trayIcon())
        emit form_->trayIcon()->activated(dice_.percent(50) ? QSystemTrayIcon::Trigger
                                                            : QSystemTrayIcon::Context);
    if (form_->isMinimized()) form_->showNormal();
    if (!form_->isVisible()) form_->show();
}

// ---- what the window reports --------------------------------------------------

void Monkey::onStatement(const QString& sql) {
    statementsThisAction_ << sql.left(200);
    resolvePending(false);
    if (sql.startsWith(QLatin1String("select "))) {
        ++counts_.loads;
        request_.search = searchTexts();
        const qsizetype at = sql.lastIndexOf(QLatin1String(" order by "));
        const QStringView tail = at < 0 ? QStringView() : QStringView(sql).mid(at + 10);
        qsizetype digits = 0;
        while (digits < tail.size() && tail.at(digits).isDigit()) ++digits;
        request_.sortColumn = tail.left(digits).toInt();
        request_.descending = tail.mid(digits) == QLatin1String(" Desc ");
        if (request_.sortColumn < 1 || request_.sortColumn > 5 ||
            (!request_.descending && tail.size() != digits))
            fault(QStringLiteral("a select ends in %1").arg(printable(tail.toString())));
        // Asking for the same column twice in a row, other than the first,
        // sorts it descending and forgets it. The select after an abandoned
        // load follows every request made during it, each decided as it came:
        // only what it leaves remembered can be checked then.
        const bool descending = std::exchange(requestsMerged_, false)
                                    ? request_.descending && request_.sortColumn > 1
                                    : request_.sortColumn == remembered_ && remembered_ > 1;
        remembered_ = descending ? 0 : static_cast<qint16>(request_.sortColumn);
        if (descending != request_.descending || form_->rememberedSort() != remembered_)
            fault(QStringLiteral("sort %1 after a remembered %2 went %3")
                      .arg(request_.sortColumn)
                      .arg(form_->rememberedSort())
                      .arg(request_.descending ? QStringLiteral("down") : QStringLiteral("up")));
    } else if (sql.startsWith(QLatin1String("insert "))) {
        Entry e;
        e.id = nextId_;
        // An empty box goes in as empty text, not as NULL.
        for (int k = 0; k < 4; ++k)
            field(e, k) =
                entryBoxes_[k]->text().isNull() ? QStringLiteral("") : entryBoxes_[k]->text();
        if (e.file.isEmpty() || !std::all_of(entryBoxes_.begin(), entryBoxes_.end(),
                                             [](QLineEdit* b) { return storable(b->text()); }))
            fault(QStringLiteral("an insert ran for a panel that Add must refuse"));
        if (form_->isLoading()) fault(QStringLiteral("an insert ran during a load"));
        pendingInsert_ = e;
    } else if (sql.startsWith(QLatin1String("delete "))) {
        const QString head = QStringLiteral("delete from sounddata where id = ");
        bool ok = false;
        const qint64 id = sql.startsWith(head) ? sql.mid(head.size()).toLongLong(&ok) : 0;
        if (!ok) fault(QStringLiteral("a delete reads %1").arg(printable(sql)));
        if (!deleteConfirmed_)
            fault(QStringLiteral("a delete ran without a confirmation"));
        else if (!expectedDelete_ || *expectedDelete_ != id)
            fault(QStringLiteral("the delete names %1, the tag named %2 (listed: %3)")
                      .arg(id)
                      .arg(form_->selectionTag())
                      .arg(expectedDelete_ ? QStringLiteral("yes") : QStringLiteral("no")));
        if (form_->isLoading()) fault(QStringLiteral("a delete ran during a load"));
        deleteConfirmed_ = false;
        expectedDelete_.reset();
        pendingDelete_ = id;
        awaitingRemoval_ = id;
    } else {
        fault(QStringLiteral("an unknown statement: %1").arg(printable(sql)));
    }
}

void Monkey::resolvePending(bool failed) {
    if (pendingInsert_) {
        if (!failed) {
            mirror_.emplace(pendingInsert_->id, Mirrored(*pendingInsert_));
            nextId_ = pendingInsert_->id + 1;
            ++counts_.inserts;
        }
        pendingInsert_.reset();
    }
    if (pendingDelete_) {
        if (!failed) {
            if (mirror_.erase(*pendingDelete_) != 1)
                fault(QStringLiteral("deleted %1, which the catalogue should not hold")
                          .arg(*pendingDelete_));
            ++counts_.deletes;
        } else {
            awaitingRemoval_.reset();
        }
        pendingDelete_.reset();
    }
}

void Monkey::onMessage(const ScriptedDialogs::Message& message,
                       QMessageBox::StandardButton answer) {
    note(QStringLiteral("  message %1 answered %2")
             .arg(printable(message.text, 60))
             .arg(static_cast<int>(answer)));
    if (pendingInsert_ || pendingDelete_) {
        resolvePending(true);
        fault(QStringLiteral("the catalogue refused a statement: %1").arg(message.text));
        return;
    }
    if (message.text == kDeleteQuestion) {
        ++counts_.deleteQuestions;
        deleteConfirmed_ = answer == QMessageBox::Yes;
        expectedDelete_.reset();
        if (deleteConfirmed_) {
            // The entry the tag names, as long as the list still shows it.
            const QString tag = form_->selectionTag();
            bool ok = false;
            const qint64 id = tag.section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
            if (ok && listShows(id)) expectedDelete_ = id;
        }
    } else if (message.text.contains(QLatin1String("is no longer in the list"))) {
        // Only after a Yes for an entry that the list no longer shows.
        if (!deleteConfirmed_ || expectedDelete_)
            fault(QStringLiteral("told that the entry is gone while the list shows it"));
    } else if (message.text == kNoFileRefusal) {
        ++counts_.refusals;
        if (!entryBoxes_[1]->text().isEmpty())
            fault(QStringLiteral("Add asked for a file while Text2 holds one"));
    } else if (message.text.contains(QLatin1String("cannot be stored"))) {
        ++counts_.refusals;
        const std::array<QString, 4> texts = entryTexts();
        if (std::all_of(texts.begin(), texts.end(), storable))
            fault(QStringLiteral("Add refused storable text"));
    } else if (message.text != window::Form1::aboutText()) {
        fault(QStringLiteral("unexpected message %1: %2").arg(message.title, message.text));
    }
}

void Monkey::onRowsRemoving(int first, int last) {
    if (!awaitingRemoval_) {
        fault(QStringLiteral("rows %1 to %2 left the list without a delete").arg(first).arg(last));
        return;
    }
    const QString shown = form_->list()->itemText(first + 1);
    if (first != last || shown != QString::number(*awaitingRemoval_))
        fault(QStringLiteral("the delete of %1 removed the row showing %2")
                  .arg(*awaitingRemoval_)
                  .arg(shown));
    awaitingRemoval_.reset();
    resolvePending(false);
}

// Each finished load must show exactly the mirror's entries that pass the
// search texts it was started with, in the order it asked for.
void Monkey::onLoadFinished() {
    resolvePending(false);
    const std::vector<ColumnFilter> filters = filtersFor(request_.search);
    const window::SoundListModel* rows = form_->list()->rows();
    const int n = rows->rowCount();
    std::set<qint64> seen;
    size_t expectedCount = 0;
    for (const auto& [id, m] : mirror_) {
        if (passes(m.entry, m.foldedTexts, filters)) ++expectedCount;
    }
    if (static_cast<size_t>(n) != expectedCount) {
        fault(QStringLiteral("a load shows %1 rows, %2 expected (search %3 %4 %5 %6)")
                  .arg(n)
                  .arg(expectedCount)
                  .arg(printable(request_.search[0]), printable(request_.search[1]),
                       printable(request_.search[2]), printable(request_.search[3])));
        return;
    }
    const QStringList titles = {QStringLiteral("ID"), QStringLiteral("Name"),
                                QStringLiteral("File Path"), QStringLiteral("Category"),
                                QStringLiteral("Description")};
    if (rows->columnCount() != (n > 0 ? 5 : 0))
        fault(QStringLiteral("a load of %1 rows has %2 columns").arg(n).arg(rows->columnCount()));
    for (int c = 0; n > 0 && c < 5 && c < rows->columnCount(); ++c) {
        if (rows->columnTitle(c) != titles.at(c))
            fault(QStringLiteral("column %1 is titled %2").arg(c + 1).arg(rows->columnTitle(c)));
    }
    const int sortField = request_.sortColumn - 1;
    for (int r = 0; r < n; ++r) {
        const std::string_view idText = rows->bytes(r, 0);
        bool ok = false;
        const qint64 id =
            QByteArray(idText.data(), static_cast<qsizetype>(idText.size())).toLongLong(&ok);
        const auto it = mirror_.find(id);
        if (!ok || it == mirror_.end() ||
            !passes(it->second.entry, it->second.foldedTexts, filters) || !seen.insert(id).second) {
            fault(QStringLiteral("row %1 shows entry %2, which the load should not show")
                      .arg(r + 1)
                      .arg(QString::fromUtf8(idText)));
            return;
        }
        for (int k = 1; k <= 4; ++k) {
            if (rows->bytes(r, k) != view(it->second.utf8[k - 1])) {
                fault(QStringLiteral("row %1 (entry %2) shows %3 in column %4, expected %5")
                          .arg(r + 1)
                          .arg(id)
                          .arg(printable(rows->text(r, k)))
                          .arg(k + 1)
                          .arg(printable(field(it->second.entry, k - 1))));
                return;
            }
        }
        if (r == 0) continue;
        if (sortField == 0) {
            if (rows->text(r - 1, 0).toLongLong() >= id) {
                fault(QStringLiteral("rows %1 and %2 are not in ID order").arg(r).arg(r + 1));
                return;
            }
        } else {
            // Texts sort ignoring letter case; equal ones in any order.
            const QList<char32_t> before = folded(rows->text(r - 1, sortField));
            const QList<char32_t> after = folded(rows->text(r, sortField));
            if (request_.descending ? before < after : after < before) {
                fault(QStringLiteral("rows %1 and %2 are out of order by column %3%4")
                          .arg(r)
                          .arg(r + 1)
                          .arg(request_.sortColumn)
                          .arg(request_.descending ? QStringLiteral(" descending") : QString()));
                return;
            }
        }
    }
    if (firstSelected() != 0) fault(QStringLiteral("a row is still selected after a load"));
}

// ---- the end ------------------------------------------------------------------

void Monkey::finish() {
    note(QStringLiteral("final Filter"));
    for (int i = 0; i < 100 && form_->isLoading(); ++i) QCoreApplication::processEvents();
    QVERIFY(!form_->isLoading());
    if (!control<QAction>("ShowSearchBar")->isChecked())
        control<QAction>("ShowSearchBar")->trigger();
    QTest::mouseClick(control<QPushButton>("Command5"), Qt::LeftButton);
    QTRY_VERIFY(!form_->isLoading());
    if (!faults_.isEmpty()) QFAIL(qPrintable(report()));

    // What the list should show: the stored entries that pass the search
    // boxes as they stand, in ID order.
    const QList<Entry> stored = folder_.readEntries();
    const std::vector<ColumnFilter> filters = filtersFor(searchTexts());
    QList<QStringList> expected;
    for (const Entry& e : stored) {
        const Mirrored m(e);
        if (!passes(e, m.foldedTexts, filters)) continue;
        // A NULL shows as empty text, which compares equal to it.
        expected.append({QString::number(e.id), e.name, e.file, e.category, e.description});
    }
    QList<QStringList> shown;
    for (int p = 1; p <= form_->list()->count(); ++p) shown.append(test::rowTexts(*form_, p));
    QCOMPARE(shown.size(), expected.size());
    for (qsizetype i = 0; i < shown.size(); ++i) {
        QVERIFY2(shown.at(i) == expected.at(i),
                 qPrintable(QStringLiteral("row %1 shows %2, expected %3")
                                .arg(i + 1)
                                .arg(printable(shown.at(i).join(QLatin1Char('|')), 120),
                                     printable(expected.at(i).join(QLatin1Char('|')), 120))));
    }

    // And the catalogue holds what the adds and deletes left, nothing else.
    QList<Entry> mirrored;
    for (const auto& [id, m] : mirror_) mirrored.append(m.entry);
    QCOMPARE(stored.size(), mirrored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        QVERIFY2(stored.at(i) == mirrored.at(i),
                 qPrintable(QStringLiteral("entry %1 is stored as %2, expected %3 %4")
                                .arg(i)
                                .arg(stored.at(i).id)
                                .arg(mirrored.at(i).id)
                                .arg(printable(mirrored.at(i).name))));
    }
}

void Monkey::note(const QString& what) {
    recent_.push_back(QStringLiteral("#%1 %2").arg(number_).arg(what));
    if (recent_.size() > kRecentActions) recent_.pop_front();
}

void Monkey::fault(const QString& what) {
    faults_ << QStringLiteral("action #%1: %2").arg(number_).arg(what);
}

QString Monkey::report() const {
    QString out = QStringLiteral("seed 0x%1\n").arg(runSeed(), 0, 16);
    for (const QString& f : faults_) out += f + QLatin1Char('\n');
    out += QStringLiteral("the last actions:\n");
    for (const QString& r : recent_) out += QStringLiteral("  ") + r + QLatin1Char('\n');
    return out;
}

QString Monkey::figures() const {
    return QStringLiteral(
               "%1 actions (+%2 queued, %3 of them run inside a load, %15 of these with rows "
               "shown), %4 loads, %5 adds, "
               "%6 deletes of %7 questions, %8 refusals, %9 plays, %10 context menus, %11 "
               "minimises, %12 file dialogs; after an action the list showed %13 rows on "
               "average and none %14 times")
        .arg(counts_.actions)
        .arg(counts_.queued)
        .arg(counts_.queuedDuringLoad)
        .arg(counts_.loads)
        .arg(counts_.inserts)
        .arg(counts_.deletes)
        .arg(counts_.deleteQuestions)
        .arg(counts_.refusals)
        .arg(counts_.plays)
        .arg(counts_.menuPopups)
        .arg(counts_.minimises)
        .arg(dialogs_->fileDialogs)
        .arg(counts_.listedRows / std::max(1, counts_.actions))
        .arg(counts_.emptyList)
        .arg(counts_.queuedOverRows);
}

// ---- the catalogue to start from --------------------------------------------------

QList<Entry> startingCatalogue(Dice& dice) {
    static const QList<QString> names = {
        QStringLiteral("Dog bark"),      QStringLiteral("Door bell"),
        QStringLiteral("O'Neil's bell"), QStringLiteral("Glocke"),
        QStringLiteral("Звонок"),        QStringLiteral("КОШКА"),
        QStringLiteral("Café crème"),    QStringLiteral("ÉCOLE bell"),
        QStringLiteral("naïve tone"),    QStringLiteral("100% pure"),
        QStringLiteral("under_score"),   QStringLiteral("Straße"),
        QStringLiteral("🎵 tune"),        QStringLiteral("rock'n'roll"),
        QStringLiteral("קול"),           QStringLiteral("a \"quoted\" hit"),
        QStringLiteral("back\\slash"),   QStringLiteral("semi;colon"),
        QStringLiteral("dash--dash"),    QStringLiteral("e\u0301cho"),
    };
    static const QList<QString> categories = {
        QStringLiteral("Animals"), QStringLiteral("animals"), QStringLiteral("Bells"),
        QStringLiteral("Музыка"),  QStringLiteral("МУЗЫКА"),  QStringLiteral("Effects"),
        QStringLiteral("50%"),     QStringLiteral("a_b"),     QStringLiteral(""),
    };
    static const QList<QString> words = {
        QStringLiteral("loud"), QStringLiteral("soft"),     QStringLiteral("it's"),
        QStringLiteral("100%"), QStringLiteral("_x_"),      QStringLiteral("très"),
        QStringLiteral("ДОМ"),  QStringLiteral("дом"),      QStringLiteral("😀"),
        QStringLiteral("--"),   QStringLiteral(";"),        QStringLiteral("\"q\""),
        QStringLiteral("ß"),    QStringLiteral("İstanbul"), QStringLiteral("\\"),
    };
    QList<Entry> rows;
    qint64 id = 0;
    for (int i = 0; i < kCatalogueEntries; ++i) {
        Entry e;
        id += dice.percent(80) ? 1 : dice.between(2, 9);  // gaps, as deletes leave them
        e.id = id;
        e.name = dice.pick(names) + QLatin1Char(' ') + QString::number(dice.below(500));
        e.category = dice.pick(categories);
        e.file = (dice.percent(80) ? QStringLiteral("/home/user/Sounds/")
                                   : QStringLiteral("C:\\Sounds\\")) +
                 e.category + QLatin1Char('/') + e.name + QStringLiteral(".wav");
        const int wordCount = dice.below(6);
        for (int w = 0; w < wordCount; ++w)
            e.description += (w ? QStringLiteral(" ") : QString()) + dice.pick(words);
        if (dice.percent(1)) e.description = e.description.repeated(500);
        if (e.description.isNull()) e.description = QLatin1String("");
        // Rows that came into the file by other means may hold NULLs.
        for (int k = 0; k < 4; ++k) {
            if (dice.percent(3)) field(e, k) = QString();
        }
        rows.append(e);
    }
    return rows;
}

// Keeps out of the log what the headless platform says thousands of times in
// a run: that it has no window manager to raise a window, grab the keyboard
// for a popup or take size hints, and that Qt's tray icon finds no tray window
// signal, which only desktop platforms have. Everything else goes on to the
// test log, where any warning fails the test.
class HeadlessNoiseFilter {
public:
    HeadlessNoiseFilter() { previous_ = qInstallMessageHandler(&filter); }
    ~HeadlessNoiseFilter() { qInstallMessageHandler(previous_); }
    HeadlessNoiseFilter(const HeadlessNoiseFilter&) = delete;
    HeadlessNoiseFilter& operator=(const HeadlessNoiseFilter&) = delete;

private:
    static void filter(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        static const QRegularExpression noise(
            QStringLiteral("^(This plugin does not support (raise\\(\\)|grabbing the keyboard|"
                           "propagateSizeHints\\(\\))|QObject::connect: No such signal "
                           "QPlatformNativeInterface::systemTrayWindowChanged\\(QScreen\\*\\))$"));
        if (type == QtWarningMsg && noise.match(text).hasMatch()) return;
        previous_(type, context, text);
    }
    static inline QtMessageHandler previous_ = nullptr;
};

}  // namespace

class MonkeyTest : public QObject {
    Q_OBJECT
private slots:
    void randomUse();
};

void MonkeyTest::randomUse() {
    // A model used wrongly says so with a warning; so would anything else
    // that goes astray in the window.
    const HeadlessNoiseFilter quiet;
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));

    QElapsedTimer clock;
    clock.start();
    test::IsolatedSettings settings;
    TempProgramFolder folder;
    Dice dice(runSeed());
    const QList<Entry> catalogue = startingCatalogue(dice);
    folder.createCatalogue(catalogue);
    QCOMPARE(folder.readEntries(), catalogue);

    Monkey monkey(dice, folder, catalogue);
    if (monkey.faulted()) QFAIL(qPrintable(monkey.report()));

    int done = 0;
    while (done < kActions) {
        // Stretches of plain use, and stretches in which every clock check of
        // a load lets events run, with actions queued to arrive in it.
        const int length = std::min(kActions - done, dice.between(50, 400));
        const bool nesting = dice.percent(35);
        monkey.form().setLoadEventInterval(nesting ? 0 : 30);
        for (int i = 0; i < length; ++i) {
            monkey.step(++done, nesting);
            if (monkey.faulted()) QFAIL(qPrintable(monkey.report()));
        }
    }
    monkey.form().setLoadEventInterval(30);
    monkey.finish();
    qInfo("%s in %lld ms", qPrintable(monkey.figures()), clock.elapsed());
}

QTEST_MAIN(MonkeyTest)
#include "tst_monkey.moc"
