#pragma once

#include "importer/soundinfo.h"
#include "playback/player/peaks.h"
#include "playback/player/playerarguments.h"
#include "playback/player/regionfile.h"
#include "prefs/options.h"

#include <QByteArray>
#include <QWidget>
#include <memory>
#include <optional>

template <typename T>
class QFutureWatcher;

class QLabel;
class QMimeData;
class QPushButton;
class QSlider;
class QTimer;

namespace kalvero::player {

class AudioOutput;
class SoundFile;
class WaveformView;

// The player's small window: the file's name, the sound's waveform with a
// playhead (a click or a drag plays from there), the time and the file's
// technical summary, a Loop button and a volume slider, and Pause and Stop
// buttons. Space pauses and resumes, Left and Right go back and on by five
// seconds, Home goes to the start, L loops, + and - set the volume, Esc
// stops. It closes itself when the sound has ended or was stopped. When the
// file cannot be played it shows the path and the reason and stays open
// until the user closes it.
//
// A region selected on the waveform is what loops, and what a drag out of
// the window offers as a file of its own; without a region the drag offers
// the whole file. The window can be handed another sound while it plays.
class PlayerWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlayerWindow(QByteArray nativePath, QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // Opens the file and a sound device and starts playing.
    void start();
    // Plays another file in this window from its start, in place of the
    // present one, as if the window had been opened for it. Loop and volume
    // stay; the region, which belonged to the old sound, goes.
    void playFile(const QByteArray& nativePath);
    // Ends playing and closes the window.
    void stop();

    // When set, a window that shows a failure closes itself once the event
    // loop runs, so that an unattended player ends.
    void setCloseOnFailure(bool close) { closeOnFailure_ = close; }

    // Holds the sound or goes on with it.
    void togglePause();
    bool isPaused() const;
    // Plays on from `frame`, or from `seconds` before or after where it is.
    void seekTo(qint64 frame);
    void seekBy(double seconds);
    // Where playing stands and the sound's length, in frames (-1: unknown).
    qint64 positionFrames() const;
    qint64 lengthFrames() const;

    // Loops the region, or the whole sound when there is none.
    void setLooping(bool looping);
    bool isLooping() const;
    // The volume in percent of unity gain, 0 to 100; kept per user.
    void setVolume(int percent);
    int volume() const;
    // The selected region in frames; empty when there is none.
    FrameRange region() const;
    void setRegion(FrameRange range);
    // What a drag out of the window carries: the region written as a file
    // of its own, or the whole file. Null, with `error` set, when the region
    // cannot be written.
    QMimeData* dragData(QString& error) const;

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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openAndPlay();
    // A scanner for the present sound, whose columns and loudness reach this window.
    void makeScanner();
    // Drops what was read or measured about the sound before, and what is
    // still being read about it.
    void forgetFacts();
    // Reads the present file's tags and summary on a pooled thread; follows forgetFacts.
    void readFacts();
    void showFacts();
    // The facts line alone: the loudness arrives after the summary.
    void showFactsLine();
    void showFileName();
    void clearFailure();
    void applyLoop();
    void saveVolume();
    void dragOut();
    // `partWay`: some of the sound was played before decoding failed.
    void showFailure(const QString& reason, ExitCode code, bool partWay = false);
    void poll();
    void showPosition();

    QByteArray nativePath_;
    QString displayPath_;
    ExitCode exitCode_ = ExitCode::Played;
    bool closeOnFailure_ = false;
    std::unique_ptr<SoundFile> sound_;
    std::unique_ptr<AudioOutput> output_;
    prefs::OptionStore options_;

    QLabel* fileNameLabel_;
    WaveformView* waveform_;
    QLabel* timeLabel_;
    QLabel* summaryLabel_;
    // What the file says it is: title, description, UCS category, creator, library.
    QLabel* factsLabel_;
    QLabel* messageLabel_;
    QPushButton* pauseButton_;
    QPushButton* stopButton_;
    QPushButton* loopButton_;
    QSlider* volumeSlider_;
    QTimer* pollTimer_;
    // Writes the volume once the slider has come to rest.
    QTimer* volumeSaver_;
    PeakScanner* scanner_ = nullptr;
    // Reads the file's tags and its summary (a long MP3's frames are all
    // counted) away from the window; replaced for each sound, so that what
    // is read about the sound before never reaches this one.
    QFutureWatcher<importer::SoundInfo>* factsReading_ = nullptr;
    std::optional<importer::SoundInfo> about_;
    std::optional<Loudness> loudness_;
    // Where a press on the file's name began, for dragging it out.
    QPoint dragFrom_;
};

// Runs the player for one file: stops the user's earlier player, shows the
// window, plays, and returns the process's exit code once the window has
// closed. A later player stops this one. Needs a QApplication.
// KZW4_AUTOCLOSE=1 in the environment makes a failure window close by itself
// (for tests and scripts that run the player unattended); without it the
// window waits for the user. KZW4_BACKGROUND=1 shows the window without
// taking the focus. The program hands it later sounds over the socket.
int runPlayer(const QByteArray& nativePath);

}  // namespace kalvero::player
