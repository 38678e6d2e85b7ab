#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <optional>

class QFileDialog;

namespace kalvero::window {

// Everything the window asks the user in a modal box, or hands to the desktop,
// goes through here, so that tests can answer in the user's place.
class UserDialogs {
public:
    UserDialogs();
    virtual ~UserDialogs();

    // A modal message box; returns the button pressed.
    virtual QMessageBox::StandardButton message(QWidget* parent, const QString& title,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton,
                                                QMessageBox::Icon icon);
    // The file-open dialog; nothing when the user cancels. The dialog is kept
    // between uses, so it opens where the previous pick was.
    virtual std::optional<QString> openFileName(QWidget* parent);
    // The folder picker; nothing when the user cancels. Kept between uses
    // like the file dialog, so it opens at the folder picked last.
    virtual std::optional<QString> existingFolder(QWidget* parent);
    // Hands an address to the desktop's web browser; false when that failed.
    virtual bool openUrl(const QUrl& url);

private:
    // The dialogs belong to the window they were opened over, and go with it;
    // these only watch them, since this object may outlive that window.
    QPointer<QFileDialog> fileDialog_;
    QPointer<QFileDialog> folderDialog_;
};

}  // namespace kalvero::window
