#include "playback/player/playerwindow.h"

#include "playback/player/audiooutput.h"
#include "playback/player/soundfile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace kalvero::player {

namespace {

constexpr int kBarSteps = 1000;
// How often the position bar follows the sound, and the end is noticed.
constexpr int kPollMilliseconds = 40;

}  // namespace

PlayerWindow::PlayerWindow(QByteArray nativePath, QWidget* parent)
    : QWidget(parent, Qt::Window),
      nativePath_(std::move(nativePath)),
      displayPath_(QFile::decodeName(nativePath_)),
      fileNameLabel_(new QLabel(this)),
      positionBar_(new QProgressBar(this)),
      messageLabel_(new QLabel(this)),
      stopButton_(new QPushButton(QStringLiteral("Stop"), this)),
      pollTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("PlayerWindow"));
    const QString name = QFileInfo(displayPath_).fileName();
    setWindowTitle(name.isEmpty() ? QStringLiteral("KZW4") : name + QStringLiteral(" - KZW4"));

    fileNameLabel_->setObjectName(QStringLiteral("fileNameLabel"));
    fileNameLabel_->setText(name);
    fileNameLabel_->setToolTip(displayPath_);
    fileNameLabel_->setTextFormat(Qt::PlainText);

    positionBar_->setObjectName(QStringLiteral("positionBar"));
    positionBar_->setRange(0, kBarSteps);
    positionBar_->setValue(0);
    positionBar_->setTextVisible(false);

    messageLabel_->setObjectName(QStringLiteral("messageLabel"));
    messageLabel_->setTextFormat(Qt::PlainText);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    messageLabel_->hide();

    stopButton_->setObjectName(QStringLiteral("stopButton"));
    stopButton_->setDefault(true);
    connect(stopButton_, &QPushButton::clicked, this, &PlayerWindow::stop);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stopButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileNameLabel_);
    layout->addWidget(positionBar_);
    layout->addWidget(messageLabel_);
    layout->addLayout(buttons);
    setMinimumWidth(360);
    stopButton_->setFocus();

    pollTimer_->setInterval(kPollMilliseconds);
    connect(pollTimer_, &QTimer::timeout, this, &PlayerWindow::poll);
}

PlayerWindow::~PlayerWindow() {
    // The device goes first: its thread reads from the file.
    output_.reset();
    sound_.reset();
}

void PlayerWindow::start() {
    if (sound_ || !failureText().isEmpty()) return;
    QString reason;
    sound_ = SoundFile::open(nativePath_, reason);
    if (!sound_) {
        showFailure(reason, ExitCode::CannotPlay);
        return;
    }
    if (sound_->frames() < 0) positionBar_->setRange(0, 0);  // length unknown: a busy bar
    output_ = std::make_unique<AudioOutput>(*sound_);
    if (!output_->start(reason)) {
        output_.reset();
        showFailure(reason, ExitCode::NoSoundDevice);
        return;
    }
    pollTimer_->start();
}

bool PlayerWindow::isPlaying() const {
    return output_ != nullptr && output_->isOpen() && !output_->hasEnded();
}

void PlayerWindow::stop() {
    pollTimer_->stop();
    if (output_) output_->stop();
    close();
}

QString PlayerWindow::failureText() const { return messageLabel_->text(); }

void PlayerWindow::showFailure(const QString& reason, ExitCode code, bool partWay) {
    pollTimer_->stop();
    exitCode_ = code;
    const QString text =
        (partWay ? QStringLiteral("The sound file \"%1\" could not be played to the end: %2.")
                 : QStringLiteral("The sound file \"%1\" cannot be played: %2."))
            .arg(displayPath_, reason);
    messageLabel_->setText(text);
    messageLabel_->show();
    positionBar_->hide();
    stopButton_->setText(QStringLiteral("Close"));
    emit failed(text);
    if (closeOnFailure_) QTimer::singleShot(0, this, &QWidget::close);
}

void PlayerWindow::poll() {
    if (!output_) return;
    const sf_count_t total = sound_->frames();
    if (total > 0) {
        const double done =
            static_cast<double>(output_->framesPlayed()) / static_cast<double>(total);
        positionBar_->setValue(static_cast<int>(std::min(1.0, done) * kBarSteps));
    }
    if (!output_->hasEnded()) return;
    pollTimer_->stop();
    output_->stop();
    const QString fault = output_->fault();
    if (!fault.isEmpty()) {
        showFailure(QStringLiteral("decoding failed part way (%1)").arg(fault),
                    ExitCode::CannotPlay, true);
        return;
    }
    positionBar_->setValue(kBarSteps);
    close();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        stop();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    // Closed from the title bar or the desktop: the sound stops with it.
    pollTimer_->stop();
    if (output_) output_->stop();
    QWidget::closeEvent(event);
}

int runPlayer(const QByteArray& nativePath) {
    PlayerWindow window(nativePath);
    window.setCloseOnFailure(qEnvironmentVariableIntValue("KZW4_AUTOCLOSE") == 1);
    QObject::connect(&window, &PlayerWindow::failed, [](const QString& message) {
        std::fprintf(stderr, "KZW4: %s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    window.show();
    window.raise();
    window.activateWindow();
    window.start();
    QApplication::exec();
    return toInt(window.exitCode());
}

}  // namespace kalvero::player
