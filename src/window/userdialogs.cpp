#include "window/userdialogs.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace kalvero::window {

UserDialogs::UserDialogs() = default;

UserDialogs::~UserDialogs() { delete fileDialog_; }

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

bool UserDialogs::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace kalvero::window
