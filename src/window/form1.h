#pragma once

#include "playback/launcher.h"
#include "prefs/options.h"
#include "reconcile/backgroundanalysis.h"
#include "store/catalogue.h"
#include "store/heldselect.h"
#include "store/statements.h"
#include "window/userdialogs.h"

#include <QMainWindow>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QSystemTrayIcon;

namespace kalvero::window {

class ListView1;
class ListSnapshot;

// What the window hands to the user and the desktop; tests replace parts of it.
struct Form1Services {
    // The window opens its modal dialogs only through Form1::askUser.
    std::shared_ptr<UserDialogs> dialogs = std::make_shared<UserDialogs>();
    playback::Launcher launcher;
    // Whether the desktop can show a tray icon; asked each time it matters.
    std::function<bool()> trayAvailable;
};

// Whether the catalogue can keep `text` exactly as it is: no NUL character and
// no half of a surrogate pair.
bool isStorableText(const QString& text);

// The program's one working window: the entry panel, the search bar, the
// list of entries and the menus. It owns the catalogue connection.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    using Services = Form1Services;

    // Builds the window and runs the start-up: connection set-up, first list
    // load, options restored. `programFolder` holds the catalogue and the player.
    explicit Form1(const QString& programFolder, Services services = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Reloads the list from the catalogue, filtered by the search boxes and
    // sorted by column `SortInt` (1 to 5).
    void SearchData1(qint16 SortInt);
    // Plays the first selected entry through the external player.
    void PlayTheFile();
    // Puts the program's icon into the tray.
    void IconTray();
    // Places and sizes the list after the window's size and the search bar.
    void layoutList();

    // Handlers of the controls and menu items.
    void Command1_Click();  // Add
    void Command2_Click();  // Clear
    void Command3_Click();  // Browse
    void Command4_Click();  // Help
    void Command5_Click();  // Filter
    void Command7_Click();  // Show All
    void Comand8_Click();   // Minimize
    void searchBox_Change();
    void ListView1_Click();
    void ListView1_DblClick();
    void ListView1_MouseDown(Qt::MouseButton button);
    void ListView1_ColumnClick(int position);
    // Plays the row the user moved to when "Play on Selection" is ticked (form1_audition.cpp).
    void ListView1_RowChosen(bool byPress);
    void MPlayFile_Click();
    void DeleteMenu_Click();
    void EditEntry_Click();
    void AlwaysOnTopM_Click();
    void PlayClickM_Click();
    void PlaySoundonDoubleClickM_Click();
    void PlayOnSelectionM_Click();
    void ShowSearchBar_Click();
    void AboutMMMM_Click();
    void ExitM_Click();
    void ImportFolderM_Click();
    void RescanFoldersM_Click();

    // Imports folders (walked recursively) and sound files into the catalogue,
    // off the user-interface thread behind a modal progress dialog, then says
    // what was added and reloads the list once.
    void importPaths(const QStringList& paths);
    // Brings the catalogue in step with `folders` (every folder that holds
    // entries when empty) the same way, then says what changed.
    void rescanFolders(const QStringList& folders);
    // Analyses what is new or changed in the background (after an import or a rescan).
    void startAnalysis();
    reconcile::BackgroundAnalysis* analysis() const { return analysis_.get(); }

    const store::Catalogue& catalogue() const { return catalogue_; }
    // The entries kept from the last whole load, which answer loads while fresh.
    ListSnapshot& listSnapshot() const { return *snapshot_; }
    const QString& programFolder() const { return programFolder_; }
    // The entry named by the last mouse press that found a selected row: "ID-position".
    const QString& selectionTag() const { return selectionTag_; }
    qint16 rememberedSort() const { return rememberedSort_; }
    bool isLoading() const { return loading_; }
    window::ListView1* list() const { return ListView1; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    // The list's place and size in twips, as the layout rule set them.
    QRectF listGeometryTwips() const { return listTwips_; }

    static QString aboutText();

    // How often a running statement lets the window paint and answer, in milliseconds.
    void setLoadEventInterval(int ms);

signals:
    // Each statement just before it runs on the catalogue.
    void statementIssued(const QString& sql);
    void loadFinished();
    // A load gave way to a newer one before it finished; it showed nothing.
    void loadAbandoned();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void connectHandlers();
    // Keys of the list and the window (form1_keys.cpp).
    void buildShortcuts();
    void popupRmenuAtSelection();
    void restoreOptions();
    // A drop of folders or of several files is an import (form1_import.cpp).
    bool importDroppedPaths(const QMimeData* mime);
    // Runs `work` on a thread of its own behind a modal progress dialog whose
    // text `describe` gives; Cancel sets `cancel`. False when the catalogue
    // could not be opened (said already); nothing ran then.
    bool runBehindProgress(const QString& title, const std::function<void()>& work,
                           const std::function<QString()>& describe, std::atomic<bool>& cancel);
    // How an import or a rescan ended, and the words for it.
    struct BulkEnd {
        QString summary;
        std::optional<store::DbError> failure;
        bool cancelled = false;
        QString name;    // "Import"
        QString action;  // "add the sound files to"
        QString done;    // "added"
    };
    // The import and the rescan close alike: one reload, then what happened,
    // then the analysis of what they brought.
    void finishBulkChange(const BulkEnd& end);
    // The background analysis (form1_analysis.cpp): its status label, and
    // each batch stored on the window's connection, later when the window or
    // the catalogue is busy.
    void buildAnalysis();
    reconcile::BackgroundAnalysis::Stored storeAnalysis(const reconcile::AnalysisBatch& batch,
                                                        QString& why);
    void showAnalysisResult(const reconcile::CatalogueAnalysisResult& result);
    // `decidedFrom`: the remembered sort position a waiting request found when it was made.
    void runLoad(qint16 SortInt, std::optional<qint16> decidedFrom);
    // False when the load gave way to a newer one.
    bool loadList(qint16 SortInt, std::optional<qint16> decidedFrom);
    // Loads answered from the entries kept in memory (form1_snapshot.cpp).
    // False when the load is to read the file after all; it is begun then.
    bool answerFromSnapshot(const store::ListQuery& query);
    void keepWholeLoad();
    // What a running statement does at each of its turns; false stops it.
    bool operationTurn();
    store::SearchTexts searchTexts() const;
    // Runs `op` now, or once the running load has ended.
    bool deferWhileLoading(std::function<void()> op);
    // The one way to the user's dialogs: `ask` runs now, or once the running
    // load, Add or delete has ended.
    void askUser(std::function<void(UserDialogs&)> ask);
    // The delete that "Delete It?" asks about, once the user said Yes.
    void deleteTaggedEntry();
    void deferLoad(qint16 SortInt, qint16 decidedFrom);
    void runDeferred();
    void reportFailure(const QString& action, const store::DbError& error);
    void letEventsRun();
    void applyListGeometry();
    // The press that led to a click has already played its row by moving the selection.
    bool pressPlayedItsRow() const;
    int firstSelectedPosition() const;
    int lastSelectedPosition() const;
    void showMessage(const QString& title, const QString& text);

    QString programFolder_;
    Services services_;
    store::Catalogue catalogue_;
    std::unique_ptr<ListSnapshot> snapshot_;
    prefs::OptionStore options_;
    qint16 rememberedSort_ = 0;
    QString selectionTag_;
    // The list's press count when a press last played the row it selected.
    int playedAtPress_ = -1;
    bool loading_ = false;
    // An Add or a delete is running its statement.
    bool changing_ = false;
    // A newer load was asked for while this one runs.
    bool staleLoad_ = false;
    bool firstRowsShown_ = false;
    struct Deferred {
        std::function<void()> op;
        bool isLoad = false;
    };
    std::deque<Deferred> deferred_;
    QRectF listTwips_;
    int eventIntervalMs_ = 30;
    QSystemTrayIcon* trayIcon_ = nullptr;
    // How far the background analysis is, at the right of the menu bar.
    QLabel* AnalysisStatus = nullptr;
    // Declared after the catalogue and the entries held: stopped before they go.
    std::unique_ptr<reconcile::BackgroundAnalysis> analysis_;

    // Controls, named as the tests and accessibility tools find them.
    QFrame* Frameqq1 = nullptr;
    QGroupBox* Frameqq2 = nullptr;
    QPushButton* Comand8 = nullptr;
    window::ListView1* ListView1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command7 = nullptr;
    QCheckBox* Check1 = nullptr;

    QMenu* FileMenu = nullptr;
    QAction* HelpM = nullptr;
    QAction* ImportFolderM = nullptr;
    QAction* RescanFoldersM = nullptr;
    QAction* ExitM = nullptr;
    QMenu* OptionsM = nullptr;
    QAction* AlwaysOnTopM = nullptr;
    QAction* PlayClickM = nullptr;
    QAction* PlaySoundonDoubleClickM = nullptr;
    QAction* PlayOnSelectionM = nullptr;
    QAction* ShowSearchBar = nullptr;
    QMenu* HelpMMMM = nullptr;
    QAction* HelpMMMMMMMMMM = nullptr;
    QAction* AboutMMMM = nullptr;
    QMenu* Rmenu = nullptr;
    QAction* MPlayFile = nullptr;
    QAction* DeleteMenu = nullptr;
    QAction* EditEntry = nullptr;
};

}  // namespace kalvero::window
