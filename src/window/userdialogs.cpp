#include "window/userdialogs.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace kalvero::window {

UserDialogs::UserDialogs() = default;

UserDialogs::~UserDialogs() = default;

QMessageBox::StandardButton UserDialogs::message(QWidget* parent, const QString& title,
                                                 const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton,
                                                 QMessageBox::Icon icon) {
    QMessageBox box(icon, title, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> UserDialogs::openFileName(QWidget* parent) {
    if (!fileDialog_) {
        fileDialog_ = new QFileDialog(parent);
        fileDialog_->setObjectName(QStringLiteral("CommonDialog1"));
        fileDialog_->setFileMode(QFileDialog::ExistingFile);
        fileDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    }
    if (fileDialog_->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = fileDialog_->selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first();
}

std::optional<QString> UserDialogs::existingFolder(QWidget* parent) {
    if (!folderDialog_) {
        folderDialog_ = new QFileDialog(parent, QStringLiteral("Import Folder"));
        folderDialog_->setObjectName(QStringLiteral("ImportFolderDialog"));
        folderDialog_->setFileMode(QFileDialog::Directory);
        folderDialog_->setOption(QFileDialog::ShowDirsOnly, true);
        folderDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        folderDialog_->setLabelText(QFileDialog::Accept, QStringLiteral("Import"));
    }
    if (folderDialog_->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList folders = folderDialog_->selectedFiles();
    if (folders.isEmpty()) return std::nullopt;
    return folders.first();
}

bool UserDialogs::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace kalvero::window
