#pragma once

#include "store/catalogue.h"
#include "window/form1.h"
#include "window/userdialogs.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>

namespace kalvero::test {

// One row of the catalogue as the tests write and read it. A null QString
// stands for NULL in the file.
struct Entry {
    qint64 id = 0;
    QString name;
    QString file;
    QString category;
    QString description;
    bool operator==(const Entry& o) const {
        return id == o.id && name == o.name && file == o.file && category == o.category &&
               description == o.description && name.isNull() == o.name.isNull() &&
               file.isNull() == o.file.isNull() && category.isNull() == o.category.isNull() &&
               description.isNull() == o.description.isNull();
    }
};

// A temporary program folder, removed at the end of the test.
class TempProgramFolder {
public:
    TempProgramFolder();
    QString path() const { return dir_.path(); }
    QString cataloguePath() const;
    // Creates the catalogue file with these rows (IDs given by the database
    // when `id` is 0), exactly as the program would find it.
    void createCatalogue(const QList<Entry>& rows = {}) const;
    // Adds rows with a connection of its own, as another tool would.
    void insertRows(const QList<Entry>& rows) const;
    // All rows in ID order, read with a connection of its own.
    QList<Entry> readEntries() const;
    qint64 countRows() const;

private:
    QTemporaryDir dir_;
};

// What kalvero-cli returned and wrote, run in this process on the folder's catalogue.
struct CliRun {
    int code = -1;
    QString out;
    QString err;
};
// Results go to `out` when given (a full disk, a closed pipe), and are then not read back.
CliRun runCli(const TempProgramFolder& folder, const QStringList& arguments, FILE* out = nullptr);

// Answers the window's message boxes and file dialog in the user's place,
// and records what was asked.
class ScriptedDialogs : public window::UserDialogs {
public:
    struct Message {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        QMessageBox::Icon icon;
    };

    QMessageBox::StandardButton message(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton,
                                        QMessageBox::Icon icon) override;
    std::optional<QString> openFileName(QWidget* parent) override;
    std::optional<QString> existingFolder(QWidget* parent) override;
    bool openUrl(const QUrl& url) override;

    // Answers for the next message boxes, in order; when none is queued the
    // default button (or OK) is pressed.
    std::deque<QMessageBox::StandardButton> answers;
    // Answers for the next file dialogs; a null QString is a cancel.
    std::deque<QString> files;
    // Answers for the next folder pickers; a null QString is a cancel.
    std::deque<QString> folders;
    bool openUrlSucceeds = true;

    QList<Message> messages;
    QList<QUrl> openedUrls;
    int fileDialogs = 0;
};

// Points the per-user settings at a temporary folder for the life of the object.
class IsolatedSettings {
public:
    IsolatedSettings();
    ~IsolatedSettings();
    QString configFile() const;
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

// Whether the list's row at `position` (from 1) is selected.
bool isSelected(const window::ListView1* list, int position);
// Takes the row at `position` out of the selection.
void deselect(window::ListView1* list, int position);

// A started window on the folder's catalogue, answering through `dialogs`.
std::unique_ptr<window::Form1> makeForm(const TempProgramFolder& folder,
                                        std::shared_ptr<ScriptedDialogs> dialogs,
                                        window::Form1Services services = {});

// The texts of one list row, position from 1: ID, name, file, category, description.
QStringList rowTexts(const window::Form1& form, int position);
// The IDs the list shows, top to bottom.
QList<qint64> listedIds(const window::Form1& form);

}  // namespace kalvero::test
