#pragma once

#include "playback/player/playerarguments.h"

#include <QByteArray>
#include <QWidget>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kalvero::player {

class AudioOutput;
class SoundFile;

// The player's small window: the file's name, a bar for the position and a
// Stop button. Esc and Space stop as well. It closes itself when the sound
// has ended or was stopped. When the file cannot be played it shows the path
// and the reason and stays open until the user closes it.
class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlayerWindow(QByteArray nativePath, QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // Opens the file and a sound device and starts playing.
    void start();
    // Ends playing and closes the window.
    void stop();

    // When set, a window that shows a failure closes itself once the event
    // loop runs, so that an unattended player ends.
    void setCloseOnFailure(bool close) { closeOnFailure_ = close; }

    ExitCode exitCode() const { return exitCode_; }
    bool isPlaying() const;
    // The failure shown in the window, or empty.
    QString failureText() const;

signals:
    // The failure as shown, in one line.
    void failed(const QString& message);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // `partWay`: some of the sound was played before decoding failed.
    void showFailure(const QString& reason, ExitCode code, bool partWay = false);
    void poll();

    QByteArray nativePath_;
    QString displayPath_;
    ExitCode exitCode_ = ExitCode::Played;
    bool closeOnFailure_ = false;
    std::unique_ptr<SoundFile> sound_;
    std::unique_ptr<AudioOutput> output_;

    QLabel* fileNameLabel_;
    QProgressBar* positionBar_;
    QLabel* messageLabel_;
    QPushButton* stopButton_;
    QTimer* pollTimer_;
};

// Runs the player for one file: shows the window, plays, and returns the
// process's exit code once the window has closed. Needs a QApplication.
// KZW4_AUTOCLOSE=1 in the environment makes a failure window close by itself
// (for tests and scripts that run the player unattended); without it the
// window waits for the user.
int runPlayer(const QByteArray& nativePath);

}  // namespace kalvero::player
