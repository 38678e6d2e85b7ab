#include "window/form1.h"

#include "desktop/appicon.h"
#include "prefs/maker.h"
#include "store/dberrortext.h"
#include "window/factstips.h"
#include "window/listsnapshot.h"
#include "window/listview1.h"
#include "window/units.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>

namespace kalvero::window {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, QRect twips) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(QFont(QStringLiteral("Verdana"), 9));
    label->setGeometry(twips);
    return label;
}

QLineEdit* makeBox(QWidget* parent, const char* name, QRect twips) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(twips);
    // The catalogue sets no length limit, and neither does the box.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect twips) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(twips);
    button->setAutoDefault(false);
    return button;
}

QAction* makeAction(QObject* parent, QMenu* menu, const char* name, const char* caption,
                    bool checkable = false, bool checked = false) {
    auto* action = new QAction(QString::fromUtf8(caption), parent);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(checkable);
    action->setChecked(checked);
    menu->addAction(action);
    return action;
}

}  // namespace

Form1::Form1(const QString& programFolder, Services services, QWidget* parent)
    : QMainWindow(parent),
      programFolder_(programFolder),
      services_(std::move(services)),
      catalogue_(programFolder),
      snapshot_(std::make_unique<ListSnapshot>()) {
    if (!services_.dialogs) services_.dialogs = std::make_shared<UserDialogs>();
    if (!services_.trayAvailable)
        services_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(prefs::kAppTitle) + QLatin1String(" - ") +
                   QLatin1String(prefs::kDomain));
    setWindowIcon(desktop::appIcon());
    setAcceptDrops(true);

    buildControls();
    buildMenus();
    buildAnalysis();
    connectHandlers();
    buildShortcuts();

    // Client area 10920 x 4395 twips, below the menu bar.
    resize(twipsToPixels(10920), twipsToPixels(4395) + menuBar()->sizeHint().height());

    setLoadEventInterval(eventIntervalMs_);
    // Start-up: the connection was set up above without touching the file;
    // load the list, then restore the options.
    SearchData1(1);
    restoreOptions();
    Frameqq2->setVisible(ShowSearchBar->isChecked());
    ListView1->setFocus();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    Frameqq1 = new QFrame(client);
    Frameqq1->setObjectName(QStringLiteral("Frameqq1"));
    Frameqq1->setWindowTitle(QStringLiteral("Frame1"));  // a caption that is never drawn
    Frameqq1->setFrameShape(QFrame::NoFrame);
    Frameqq1->setGeometry(twipsRect(120, 120, 10695, 615));

    Label1 = makeLabel(Frameqq1, "Label1", "Name:", twipsRect(120, 0, 975, 255));
    Label2 = makeLabel(Frameqq1, "Label2", "Sound File:", twipsRect(2520, 0, 1215, 255));
    Label3 = makeLabel(Frameqq1, "Label3", "Category:", twipsRect(5280, 0, 975, 255));
    Label4 = makeLabel(Frameqq1, "Label4", "Description:", twipsRect(7800, 0, 1095, 255));
    Text1 = makeBox(Frameqq1, "Text1", twipsRect(840, 0, 1455, 285));
    Text2 = makeBox(Frameqq1, "Text2", twipsRect(3600, 0, 1455, 285));
    Text3 = makeBox(Frameqq1, "Text3", twipsRect(6240, 0, 1455, 285));
    Text4 = makeBox(Frameqq1, "Text4", twipsRect(9000, 0, 1455, 285));
    Label1->setBuddy(Text1);
    Label2->setBuddy(Text2);
    Label3->setBuddy(Text3);
    Label4->setBuddy(Text4);
    Command1 = makeButton(Frameqq1, "Command1", "Add", twipsRect(3840, 360, 1215, 255));
    Command2 = makeButton(Frameqq1, "Command2", "Clear", twipsRect(5160, 360, 1215, 255));
    Command3 = makeButton(Frameqq1, "Command3", "Browse", twipsRect(6480, 360, 1215, 255));
    Command4 = makeButton(Frameqq1, "Command4", "Help", twipsRect(9120, 360, 1215, 255));

    Frameqq2 = new QGroupBox(QStringLiteral("Searching and Filtering"), client);
    Frameqq2->setObjectName(QStringLiteral("Frameqq2"));
    Frameqq2->setGeometry(twipsRect(120, 840, 10695, 855));
    Label5 = makeLabel(Frameqq2, "Label5",
                       "Name               Sound File        Category        Description",
                       twipsRect(240, 240, 6015, 375));
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Text5 = makeBox(Frameqq2, "Text5", twipsRect(240, 480, 1215, 285));
    Text7 = makeBox(Frameqq2, "Text7", twipsRect(1680, 480, 1215, 285));
    Text8 = makeBox(Frameqq2, "Text8", twipsRect(3120, 480, 1215, 285));
    Text9 = makeBox(Frameqq2, "Text9", twipsRect(4440, 480, 1215, 285));
    Text5->setAccessibleName(QStringLiteral("Name filter"));
    Text7->setAccessibleName(QStringLiteral("Sound File filter"));
    Text8->setAccessibleName(QStringLiteral("Category filter"));
    Text9->setAccessibleName(QStringLiteral("Description filter"));
    Command5 = makeButton(Frameqq2, "Command5", "Filter", twipsRect(5760, 480, 1215, 255));
    Command7 = makeButton(Frameqq2, "Command7", "Show All", twipsRect(7080, 480, 1215, 255));
    Check1 = new QCheckBox(QStringLiteral("Auto Filter on Typing"), Frameqq2);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(twipsRect(8400, 480, 1815, 255));

    ListView1 = new window::ListView1(client);
    new window::EntryFactsTips(ListView1, catalogue_.filePath());
    listTwips_ = QRectF(120, 1800, 10695, 2535);
    applyListGeometry();

    // "Minimize" stands on the window, over the panel, in line with its buttons.
    Comand8 = makeButton(client, "Comand8", "Minimize", twipsRect(7920, 480, 1215, 255));
    Comand8->raise();

    // Tab order: the list, the panel's buttons and boxes, the search bar, "Minimize".
    QWidget* order[] = {ListView1, Command4, Command3, Command1, Command2, Text4,
                        Text3,     Text2,    Text1,    Check1,   Text5,    Text7,
                        Text8,     Text9,    Command5, Command7, Comand8};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form1::buildMenus() {
    FileMenu = menuBar()->addMenu(QStringLiteral("File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    HelpM = makeAction(this, FileMenu, "HelpM", "Help");
    ImportFolderM = makeAction(this, FileMenu, "ImportFolderM", "Import Folder...");
    RescanFoldersM = makeAction(this, FileMenu, "RescanFoldersM", "Rescan Folders");
    ExitM = makeAction(this, FileMenu, "ExitM", "Exit");

    OptionsM = menuBar()->addMenu(QStringLiteral("Options"));
    OptionsM->setObjectName(QStringLiteral("OptionsM"));
    AlwaysOnTopM = makeAction(this, OptionsM, "AlwaysOnTopM", "Always On Top", true,
                              prefs::kOnTop.builtInDefault);
    PlayClickM = makeAction(this, OptionsM, "PlayClickM", "Play Sound on Click", true,
                            prefs::kPlayClick.builtInDefault);
    PlaySoundonDoubleClickM =
        makeAction(this, OptionsM, "PlaySoundonDoubleClickM", "Play Sound on Double Click", true,
                   prefs::kPlayDoubleClick.builtInDefault);
    PlayOnSelectionM = makeAction(this, OptionsM, "PlayOnSelectionM", "Play on Selection", true,
                                  prefs::kPlayOnSelection.builtInDefault);
    ShowSearchBar = makeAction(this, OptionsM, "ShowSearchBar", "Show Search Bar", true,
                               prefs::kShowSearchBar.builtInDefault);

    HelpMMMM = menuBar()->addMenu(QStringLiteral("Help"));
    HelpMMMM->setObjectName(QStringLiteral("HelpMMMM"));
    HelpMMMMMMMMMM = makeAction(this, HelpMMMM, "HelpMMMMMMMMMM", "Help");
    AboutMMMM = makeAction(this, HelpMMMM, "AboutMMMM", "About");

    // The list's context menu; it never appears on the menu bar.
    Rmenu = new QMenu(QStringLiteral("Rmenu"), this);
    Rmenu->setObjectName(QStringLiteral("Rmenu"));
    MPlayFile = makeAction(this, Rmenu, "MPlayFile", "Play File");
    DeleteMenu = makeAction(this, Rmenu, "DeleteMenu", "Delete It?");
    EditEntry = makeAction(this, Rmenu, "EditEntry", "Edit Entry");
}

void Form1::connectHandlers() {
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Comand8, &QPushButton::clicked, this, &Form1::Comand8_Click);
    for (QLineEdit* box : {Text5, Text7, Text8, Text9})
        connect(box, &QLineEdit::textChanged, this, &Form1::searchBox_Change);
    for (QLineEdit* box : {Text1, Text2, Text3, Text4, Text5, Text7, Text8, Text9})
        box->installEventFilter(this);

    connect(ListView1, &ListView1::Click, this, &Form1::ListView1_Click);
    connect(ListView1, &ListView1::DblClick, this, &Form1::ListView1_DblClick);
    connect(ListView1, &ListView1::MouseDown, this, &Form1::ListView1_MouseDown);
    connect(ListView1, &ListView1::ColumnClick, this, &Form1::ListView1_ColumnClick);
    connect(ListView1, &ListView1::RowChosen, this, &Form1::ListView1_RowChosen);

    connect(MPlayFile, &QAction::triggered, this, &Form1::MPlayFile_Click);
    connect(DeleteMenu, &QAction::triggered, this, &Form1::DeleteMenu_Click);
    connect(EditEntry, &QAction::triggered, this, &Form1::EditEntry_Click);
    connect(AboutMMMM, &QAction::triggered, this, &Form1::AboutMMMM_Click);
    connect(ExitM, &QAction::triggered, this, &Form1::ExitM_Click);
    connect(ImportFolderM, &QAction::triggered, this, &Form1::ImportFolderM_Click);
    connect(RescanFoldersM, &QAction::triggered, this, &Form1::RescanFoldersM_Click);
    connect(HelpM, &QAction::triggered, this, &Form1::Command4_Click);
    connect(HelpMMMMMMMMMM, &QAction::triggered, this, &Form1::Command4_Click);

    // The option handlers move the check marks themselves: undo the toggle
    // the menu made on its own before handing over.
    auto onOptionPick = [this](QAction* action, void (Form1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, action, handler] {
            action->setChecked(!action->isChecked());
            (this->*handler)();
        });
    };
    onOptionPick(AlwaysOnTopM, &Form1::AlwaysOnTopM_Click);
    onOptionPick(PlayClickM, &Form1::PlayClickM_Click);
    onOptionPick(PlaySoundonDoubleClickM, &Form1::PlaySoundonDoubleClickM_Click);
    onOptionPick(PlayOnSelectionM, &Form1::PlayOnSelectionM_Click);
    onOptionPick(ShowSearchBar, &Form1::ShowSearchBar_Click);
}

store::SearchTexts Form1::searchTexts() const {
    return {Text5->text(), Text7->text(), Text8->text(), Text9->text()};
}

void Form1::SearchData1(qint16 SortInt) {
    if (loading_ || changing_) {
        // The sort rule is applied in the order of the requests, so two header
        // clicks during one load toggle the order as two separate clicks do;
        // the load that runs later builds its statement from this decision.
        const qint16 before = rememberedSort_;
        store::buildSelect({}, SortInt, rememberedSort_);
        deferLoad(SortInt, before);
        // A running load is stale now: it stops at its next turn and the
        // newest request runs at once. An Add or a delete always finishes.
        if (loading_) staleLoad_ = true;
        return;
    }
    runLoad(SortInt, std::nullopt);
}

void Form1::runLoad(qint16 SortInt, std::optional<qint16> decidedFrom) {
    loading_ = true;
    staleLoad_ = false;
    bool finished = false;
    {
        // Every way out ends the operation: a flag left set would defer every
        // later load, Add and delete for ever.
        const auto done = qScopeGuard([this] {
            catalogue_.end();
            loading_ = false;
        });
        try {
            finished = loadList(SortInt, decidedFrom);
        } catch (const store::DbError& error) {
            if (staleLoad_) {
                // Stopped for a newer load: no message, and nothing of it stays.
                ListView1->clearItems();
                ListView1->clearColumns();
            } else {
                catalogue_.end();
                ListView1->showAddedItems();
                loading_ = false;
                reportFailure(QStringLiteral("read"), error);
            }
        } catch (const std::exception& error) {
            catalogue_.end();
            ListView1->showAddedItems();
            loading_ = false;
            const bool memory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
            showMessage(
                QLatin1String(prefs::kAppTitle),
                QStringLiteral("Kalvero could not read the catalogue\n%1\n\n%2")
                    .arg(QDir::toNativeSeparators(catalogue_.filePath()),
                         memory ? QStringLiteral("There is not enough memory to show the whole "
                                                 "list. The list shows the entries read so far; "
                                                 "narrow it with the search bar, or close other "
                                                 "programs and try again.")
                                : QStringLiteral("The list load stopped on an unexpected error "
                                                 "(%1). The list shows the entries read so far.")
                                      .arg(QString::fromLocal8Bit(error.what()))));
        }
    }
    if (finished)
        emit loadFinished();
    else
        emit loadAbandoned();
    runDeferred();
}

bool Form1::loadList(qint16 SortInt, std::optional<qint16> decidedFrom) {
    const qint16 before = decidedFrom.value_or(rememberedSort_);
    const store::ListQuery query{searchTexts(), SortInt, SortInt > 1 && SortInt == before};
    // Entries read by an earlier load answer this one while nothing has changed the catalogue.
    bool fromMemory = snapshot_->canAnswer(query);
    if (!fromMemory) catalogue_.begin();
    QString sql;
    if (decidedFrom) {
        // A request that waited: its sort decision was taken when it was made.
        qint16 remembered = *decidedFrom;
        sql = store::buildSelect(searchTexts(), SortInt, remembered);
        rememberedSort_ = remembered;
    } else {
        sql = store::buildSelect(searchTexts(), SortInt, rememberedSort_);
    }
    ListView1->clearItems();
    ListView1->clearColumns();
    firstRowsShown_ = false;
    emit statementIssued(sql);
    // No stored text holds a NUL or half of a surrogate pair (Add refuses
    // them), so a search text with one matches nothing: the engine would read
    // the statement only up to a NUL, and a half pair would become U+FFFD.
    const bool readable = !sql.contains(QChar(0)) && QStringView(sql).isValidUtf16();
    if (readable && fromMemory) fromMemory = answerFromSnapshot(query);
    if (readable && !fromMemory) {
        snapshot_->beforeStatement(catalogue_, query);
        store::Statement rows = catalogue_.query(sql);
        std::string_view fields[SoundListModel::kMaxFields];
        store::EntryTable::Kind kinds[SoundListModel::kMaxFields];
        qint64 counter = 0;
        // The pacer lets events run inside the engine's steps; a row is added
        // between two steps, so a stop asked for meanwhile is seen here.
        store::StatementPacer* pacer = catalogue_.pacer();
        try {
            while (rows.step()) {
                if (pacer && pacer->stopped()) break;
                ++counter;
                const int n = std::min(rows.columnCount(), SoundListModel::kMaxFields);
                if (counter == 1) {
                    for (int k = 0; k < n; ++k)
                        ListView1->addColumn(rows.columnName(k).remove(QLatin1Char('\'')));
                    ListView1->setColumnWidthTwips(1, 1);
                }
                for (int k = 0; k < n; ++k) {
                    // The storage class first: reading the text may convert the value.
                    kinds[k] = store::kindOfColumn(rows.type(k));
                    int bytes = 0;
                    const char* text = rows.text(k, bytes);
                    fields[k] = std::string_view(text, static_cast<size_t>(bytes));
                }
                ListView1->addItem(fields, n, kinds);
            }
        } catch (const store::DbError&) {
            // A turn that threw stopped the statement: its failure is the one to report.
            if (pacer) pacer->rethrowTurnFailure();
            throw;
        }
        if (pacer) pacer->rethrowTurnFailure();
    }
    catalogue_.end();
    if (staleLoad_) {
        ListView1->clearItems();
        ListView1->clearColumns();
        return false;
    }
    ListView1->showAddedItems();
    ListView1->clearSelectionFlags();
    if (!fromMemory && query.isWhole()) keepWholeLoad();
    return true;
}

bool Form1::operationTurn() {
    if (loading_ && !firstRowsShown_ && ListView1->rows()->heldRowCount() > 0) {
        // The first rows are shown at once; the rest all together at the end,
        // since every change of the row count makes the view lay out all its
        // rows again.
        ListView1->showAddedItems();
        firstRowsShown_ = true;
    }
    letEventsRun();
    return !(loading_ && staleLoad_);
}

void Form1::setLoadEventInterval(int ms) {
    eventIntervalMs_ = ms;
    catalogue_.setPacing(ms, [this] { return operationTurn(); });
}

void Form1::letEventsRun() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool Form1::deferWhileLoading(std::function<void()> op) {
    if (!loading_ && !changing_) return false;
    deferred_.push_back({std::move(op), false});
    return true;
}

void Form1::askUser(std::function<void(UserDialogs&)> ask) {
    // A modal dialog runs an event loop of its own. Opened inside the
    // statement whose turn let this event run, it would keep the catalogue
    // locked for as long as it stays open, and another program's import
    // would wait on it and fail. It opens once the statement has ended.
    if (deferWhileLoading([this, ask] { askUser(ask); })) return;
    ask(*services_.dialogs);
}

void Form1::deferLoad(qint16 SortInt, qint16 decidedFrom) {
    // Only the newest load request is kept: it reads the search boxes when it
    // runs, and its sort decision already follows all the requests before it.
    std::erase_if(deferred_, [](const Deferred& d) { return d.isLoad; });
    deferred_.push_back({[this, SortInt, decidedFrom] { runLoad(SortInt, decidedFrom); }, true});
}

void Form1::runDeferred() {
    while (!loading_ && !changing_ && !deferred_.empty()) {
        Deferred next = std::move(deferred_.front());
        deferred_.pop_front();
        next.op();
    }
}

void Form1::reportFailure(const QString& action, const store::DbError& error) {
    showMessage(QLatin1String(prefs::kAppTitle),
                store::describeFailure(action, catalogue_.filePath(), error));
}

void Form1::showMessage(const QString& title, const QString& text) {
    askUser([this, title, text](UserDialogs& dialogs) {
        dialogs.message(this, title, text, QMessageBox::Ok, QMessageBox::NoButton,
                        QMessageBox::NoIcon);
    });
}

void Form1::restoreOptions() {
    AlwaysOnTopM->setChecked(options_.read(prefs::kOnTop, prefs::kOnTop.builtInDefault));
    PlaySoundonDoubleClickM->setChecked(
        options_.read(prefs::kPlayDoubleClick, PlaySoundonDoubleClickM->isChecked()));
    PlayClickM->setChecked(options_.read(prefs::kPlayClick, PlayClickM->isChecked()));
    PlayOnSelectionM->setChecked(
        options_.read(prefs::kPlayOnSelection, PlayOnSelectionM->isChecked()));
    ShowSearchBar->setChecked(options_.read(prefs::kShowSearchBar, ShowSearchBar->isChecked()));
    // A stored "True" means the user wanted the window on top: put it there.
    if (AlwaysOnTopM->isChecked()) setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

}  // namespace kalvero::window
