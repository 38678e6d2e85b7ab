// Playing entries, the persisted options, always on top, the tray icon,
// About, Help and Exit.

#include "prefs/maker.h"
#include "prefs/ontop.h"
#include "window/form1.h"
#include "window/listview1.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QSystemTrayIcon>

namespace kalvero::window {

void Form1::PlayTheFile() {
    // Only the first selected entry plays; a failed start is not reported.
    const int position = firstSelectedPosition();
    if (position == 0) return;
    services_.launcher.play(programFolder_, ListView1->subItemText(position, 2));
}

void Form1::ListView1_Click() {
    if (PlayClickM->isChecked() && !pressPlayedItsRow()) PlayTheFile();
}

void Form1::ListView1_DblClick() {
    if (PlaySoundonDoubleClickM->isChecked() && !pressPlayedItsRow()) PlayTheFile();
}

void Form1::MPlayFile_Click() { PlayTheFile(); }

void Form1::PlayClickM_Click() {
    // The two play options form a pair: exactly one is set afterwards.
    const bool click = !PlayClickM->isChecked();
    PlayClickM->setChecked(click);
    PlaySoundonDoubleClickM->setChecked(!click);
    options_.write(prefs::kPlayClick, PlayClickM->isChecked());
    options_.write(prefs::kPlayDoubleClick, PlaySoundonDoubleClickM->isChecked());
}

void Form1::PlaySoundonDoubleClickM_Click() {
    const bool doubleClick = !PlaySoundonDoubleClickM->isChecked();
    PlaySoundonDoubleClickM->setChecked(doubleClick);
    PlayClickM->setChecked(!doubleClick);
    options_.write(prefs::kPlayDoubleClick, PlaySoundonDoubleClickM->isChecked());
    options_.write(prefs::kPlayClick, PlayClickM->isChecked());
}

void Form1::ShowSearchBar_Click() {
    const bool show = !ShowSearchBar->isChecked();
    ShowSearchBar->setChecked(show);
    Frameqq2->setVisible(show);
    options_.write(prefs::kShowSearchBar, ShowSearchBar->isChecked());
    layoutList();
}

void Form1::AlwaysOnTopM_Click() {
    if (AlwaysOnTopM->isChecked()) {
        prefs::SetOnTop(this, false);
        AlwaysOnTopM->setChecked(false);
    } else {
        prefs::SetOnTop(this, true);
        AlwaysOnTopM->setChecked(true);
    }
    options_.write(prefs::kOnTop, AlwaysOnTopM->isChecked());
}

void Form1::Comand8_Click() {
    // Without a tray there would be no way back to a hidden window: minimise
    // to the taskbar instead.
    if (!services_.trayAvailable()) {
        showMinimized();
        return;
    }
    hide();
    IconTray();
}

void Form1::IconTray() {
    if (!trayIcon_) {
        trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
        trayIcon_->setObjectName(QStringLiteral("TrayIcon"));
        trayIcon_->setToolTip(QLatin1String(prefs::kAppTitle));
        connect(trayIcon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // A left or right press brings the window back as it was.
                    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context)
                        return;
                    show();
                    raise();
                    activateWindow();
                });
    }
    trayIcon_->show();
}

QString Form1::aboutText() {
    return QLatin1String(prefs::kAppTitle) + QLatin1String("\r\nWritten by: ") +
           QLatin1String(prefs::kAuthor) + QLatin1String("\r\nEmail: ") +
           QLatin1String(prefs::kSupportEmail) + QLatin1String("\r\nWeb Site: ") +
           QLatin1String(prefs::kWebHost) + QLatin1Char(' ');
}

void Form1::AboutMMMM_Click() { showMessage(QLatin1String(prefs::kAppTitle), aboutText()); }

void Form1::Command4_Click() {
    const QUrl address(QLatin1String(prefs::kWebAddress));
    if (!services_.dialogs->openUrl(address)) {
        showMessage(QLatin1String(prefs::kAppTitle),
                    QStringLiteral("Kalvero could not open the web site %1 in your web browser.")
                        .arg(address.toString()));
    }
}

void Form1::ExitM_Click() { QCoreApplication::exit(0); }

}  // namespace kalvero::window
