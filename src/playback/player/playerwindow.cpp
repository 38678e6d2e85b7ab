#include "playback/player/playerwindow.h"

#include "importer/soundinfo.h"
#include "playback/player/audiooutput.h"
#include "playback/player/elidedlabel.h"
#include "playback/player/factsline.h"
#include "playback/player/onevoice.h"
#include "playback/player/peaks.h"
#include "playback/player/soundfile.h"
#include "playback/player/waveformview.h"
#include "playback/playercommand.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPromise>
#include <QPushButton>
#include <QSlider>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kalvero::player {

namespace {

// How often the playhead follows the sound, and the end is noticed.
constexpr int kPollMilliseconds = 40;
// Columns of the overview: finer than any screen shows it, small enough to
// keep in memory for an hour of sound.
constexpr int kOverviewColumns = 2048;
constexpr double kSeekStepSeconds = 5.0;
constexpr int kVolumeStep = 5;

// "1:05.3", or "1:02:05.3" past the hour.
QString timeText(qint64 frames, int rate) {
    if (frames < 0 || rate <= 0) return QStringLiteral("?");
    const qint64 tenths = frames * 10 / rate;
    const qint64 seconds = tenths / 10;
    const QString rest =
        QStringLiteral("%1.%2").arg(seconds % 60, 2, 10, QLatin1Char('0')).arg(tenths % 10);
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(rest);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(rest);
}

}  // namespace

PlayerWindow::PlayerWindow(QByteArray nativePath, QWidget* parent)
    : QWidget(parent, Qt::Window),
      nativePath_(std::move(nativePath)),
      displayPath_(QFile::decodeName(nativePath_)),
      fileNameLabel_(new QLabel(this)),
      waveform_(new WaveformView(this)),
      timeLabel_(new QLabel(this)),
      summaryLabel_(new ElidedLabel(this)),
      factsLabel_(new QLabel(this)),
      messageLabel_(new QLabel(this)),
      pauseButton_(new QPushButton(QStringLiteral("Pause"), this)),
      stopButton_(new QPushButton(QStringLiteral("Stop"), this)),
      loopButton_(new QPushButton(QStringLiteral("Loop"), this)),
      volumeSlider_(new QSlider(Qt::Horizontal, this)),
      pollTimer_(new QTimer(this)),
      volumeSaver_(new QTimer(this)) {
    setObjectName(QStringLiteral("PlayerWindow"));
    fileNameLabel_->setObjectName(QStringLiteral("fileNameLabel"));
    fileNameLabel_->setTextFormat(Qt::PlainText);
    // The name is a handle: dragged, it carries the region or the whole file.
    fileNameLabel_->setCursor(Qt::OpenHandCursor);
    fileNameLabel_->installEventFilter(this);
    showFileName();

    timeLabel_->setObjectName(QStringLiteral("timeLabel"));
    timeLabel_->setTextFormat(Qt::PlainText);
    summaryLabel_->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel_->setTextFormat(Qt::PlainText);
    summaryLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    summaryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    factsLabel_->setObjectName(QStringLiteral("factsLabel"));
    factsLabel_->setTextFormat(Qt::PlainText);
    factsLabel_->setWordWrap(true);
    factsLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    factsLabel_->hide();

    messageLabel_->setObjectName(QStringLiteral("messageLabel"));
    messageLabel_->setTextFormat(Qt::PlainText);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    messageLabel_->hide();

    // The buttons take the focus from Tab only: a click leaves it on the
    // waveform, where Space and the arrows keep their meaning.
    pauseButton_->setObjectName(QStringLiteral("pauseButton"));
    pauseButton_->setFocusPolicy(Qt::TabFocus);
    pauseButton_->setEnabled(false);
    connect(pauseButton_, &QPushButton::clicked, this, &PlayerWindow::togglePause);
    stopButton_->setObjectName(QStringLiteral("stopButton"));
    stopButton_->setFocusPolicy(Qt::TabFocus);
    connect(stopButton_, &QPushButton::clicked, this, &PlayerWindow::stop);
    loopButton_->setObjectName(QStringLiteral("loopButton"));
    loopButton_->setFocusPolicy(Qt::TabFocus);
    loopButton_->setCheckable(true);
    loopButton_->setToolTip(QStringLiteral("Loop the region, or the whole sound (L)"));
    connect(loopButton_, &QPushButton::toggled, this, &PlayerWindow::setLooping);
    volumeSlider_->setObjectName(QStringLiteral("volumeSlider"));
    volumeSlider_->setFocusPolicy(Qt::TabFocus);
    volumeSlider_->setRange(prefs::kPlayerVolume.lowest, prefs::kPlayerVolume.highest);
    volumeSlider_->setPageStep(kVolumeStep * 2);
    volumeSlider_->setAccessibleName(QStringLiteral("Volume"));
    volumeSlider_->setToolTip(QStringLiteral("Volume (+ and -)"));
    volumeSlider_->setMaximumWidth(120);
    volumeSlider_->setValue(options_.read(prefs::kPlayerVolume));
    connect(volumeSlider_, &QSlider::valueChanged, this, [this](int percent) {
        if (output_) output_->setGain(gainForLevel(percent));
        volumeSaver_->start();
    });
    volumeSaver_->setSingleShot(true);
    volumeSaver_->setInterval(500);
    connect(volumeSaver_, &QTimer::timeout, this, &PlayerWindow::saveVolume);

    connect(waveform_, &WaveformView::seekRequested, this, [this](double fraction) {
        const qint64 length = lengthFrames();
        if (length > 0)
            seekTo(static_cast<qint64>(std::llround(fraction * static_cast<double>(length))));
    });
    makeScanner();
    connect(waveform_, &WaveformView::regionChanged, this, &PlayerWindow::applyLoop);
    connect(waveform_, &WaveformView::dragOutRequested, this, &PlayerWindow::dragOut);

    auto* details = new QHBoxLayout;
    details->addWidget(timeLabel_);
    // The summary takes what room is left and never widens the window.
    details->addWidget(summaryLabel_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loopButton_);
    buttons->addWidget(volumeSlider_);
    buttons->addStretch();
    buttons->addWidget(pauseButton_);
    buttons->addWidget(stopButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileNameLabel_);
    layout->addWidget(waveform_, 1);
    layout->addLayout(details);
    layout->addWidget(factsLabel_);
    layout->addWidget(messageLabel_);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    waveform_->setFocus();

    pollTimer_->setInterval(kPollMilliseconds);
    connect(pollTimer_, &QTimer::timeout, this, &PlayerWindow::poll);
}

PlayerWindow::~PlayerWindow() {
    // The device goes first: its thread reads from the file. The scanner has
    // its own opening of the file and stops with its QObject child.
    output_.reset();
    sound_.reset();
}

void PlayerWindow::showFileName() {
    const QString name = QFileInfo(displayPath_).fileName();
    setWindowTitle(name.isEmpty() ? QStringLiteral("KZW4") : name + QStringLiteral(" - KZW4"));
    fileNameLabel_->setText(name);
    fileNameLabel_->setToolTip(displayPath_);
}

void PlayerWindow::start() {
    if (sound_ || !failureText().isEmpty()) return;
    openAndPlay();
}

void PlayerWindow::playFile(const QByteArray& nativePath) {
    pollTimer_->stop();
    nativePath_ = nativePath;
    displayPath_ = QFile::decodeName(nativePath_);
    showFileName();
    clearFailure();
    waveform_->clearRegion();
    // A scan of the old file may still be under way: it goes with its
    // scanner, and what it has queued for the window is dropped with it.
    delete scanner_;
    makeScanner();
    openAndPlay();
}

void PlayerWindow::makeScanner() {
    scanner_ = new PeakScanner(this);
    connect(scanner_, &PeakScanner::peaksReady, waveform_, &WaveformView::addPeaks);
    connect(scanner_, &PeakScanner::loudnessMeasured, this, [this](const Loudness& loudness) {
        loudness_ = loudness;
        showFactsLine();
    });
}

void PlayerWindow::forgetFacts() {
    if (factsReading_) {
        // A reading not yet begun is skipped; one under way ends unheard.
        factsReading_->future().cancel();
        delete factsReading_;
        factsReading_ = nullptr;
    }
    about_.reset();
    loudness_.reset();
    showFacts();
}

void PlayerWindow::readFacts() {
    auto promise = std::make_shared<QPromise<importer::SoundInfo>>();
    auto* reading = new QFutureWatcher<importer::SoundInfo>(this);
    factsReading_ = reading;
    connect(reading, &QFutureWatcherBase::finished, this, [this, reading] {
        if (reading != factsReading_ || reading->future().resultCount() == 0) return;
        about_ = reading->result();
        showFacts();
    });
    reading->setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, path = nativePath_] {
        promise->start();
        if (!promise->isCanceled()) promise->addResult(importer::readSoundInfo(path));
        promise->finish();
    });
}

void PlayerWindow::showFacts() {
    summaryLabel_->setText(about_ ? about_->summary : QString());
    showFactsLine();
}

void PlayerWindow::showFactsLine() {
    const importer::SoundInfo none;
    const importer::SoundInfo& about = about_ ? *about_ : none;
    factsLabel_->setText(factsLine(about, loudness_));
    factsLabel_->setToolTip(about.description);
    factsLabel_->setVisible(!factsLabel_->text().isEmpty());
}

void PlayerWindow::clearFailure() {
    exitCode_ = ExitCode::Played;
    messageLabel_->clear();
    messageLabel_->hide();
    waveform_->show();
    timeLabel_->show();
    pauseButton_->show();
    pauseButton_->setText(QStringLiteral("Pause"));
    stopButton_->setText(QStringLiteral("Stop"));
    // Space and the arrows belong to the waveform again.
    waveform_->setFocus();
}

void PlayerWindow::openAndPlay() {
    forgetFacts();
    QString reason;
    std::unique_ptr<SoundFile> next = SoundFile::open(nativePath_, reason);
    if (!next) {
        // Silent before the old sound goes: the device may still read it.
        if (output_) output_->stop();
        showFailure(reason, ExitCode::CannotPlay);
        return;
    }
    const qint64 length = next->frames();
    waveform_->setSeekable(length > 0);
    waveform_->reset(length > 0 ? static_cast<int>(std::min<qint64>(length, kOverviewColumns)) : 0);
    bool playing = false;
    if (output_) {
        playing = output_->switchTo(*next, reason);
    } else {
        output_ = std::make_unique<AudioOutput>(*next);
        output_->setGain(gainForLevel(volumeSlider_->value()));
        playing = output_->start(reason);
    }
    // The device no longer reads the sound before, if there was one.
    sound_ = std::move(next);
    showPosition();
    if (!playing) {
        output_.reset();
        showFailure(reason, ExitCode::NoSoundDevice);
        return;
    }
    applyLoop();
    // The overview and the loudness are read from a second opening of the
    // file, beside the sound: a long file starts playing at once and its
    // picture fills in. A file that states no length is still measured.
    scanner_->start(nativePath_, length, static_cast<int>(waveform_->peaks().size()));
    pauseButton_->setEnabled(true);
    pollTimer_->start();
    readFacts();
}

bool PlayerWindow::isPlaying() const {
    return output_ != nullptr && output_->isOpen() && !output_->hasEnded();
}

bool PlayerWindow::isPaused() const { return output_ != nullptr && output_->isPaused(); }

void PlayerWindow::togglePause() {
    if (!isPlaying()) return;
    output_->setPaused(!output_->isPaused());
    pauseButton_->setText(output_->isPaused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

qint64 PlayerWindow::positionFrames() const { return output_ ? output_->framesPlayed() : 0; }

qint64 PlayerWindow::lengthFrames() const { return sound_ ? sound_->frames() : -1; }

void PlayerWindow::seekTo(qint64 frame) {
    if (!isPlaying()) return;
    output_->seek(frame);
    showPosition();
}

void PlayerWindow::seekBy(double seconds) {
    if (!isPlaying()) return;
    const auto step = static_cast<qint64>(std::llround(seconds * sound_->sampleRate()));
    seekTo(std::max<qint64>(0, positionFrames() + step));
}

void PlayerWindow::stop() {
    pollTimer_->stop();
    // Silent at once; closing the device (closeEvent) waits for the sound
    // system to drain its last buffers.
    if (output_) output_->setPaused(true);
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
    waveform_->hide();
    timeLabel_->hide();
    pauseButton_->hide();
    stopButton_->setText(QStringLiteral("Close"));
    emit failed(text);
    if (closeOnFailure_) QTimer::singleShot(0, this, &QWidget::close);
}

void PlayerWindow::showPosition() {
    if (!sound_) return;
    const qint64 length = sound_->frames();
    const qint64 position = length > 0 ? std::min(positionFrames(), length) : positionFrames();
    if (length > 0)
        waveform_->setPosition(static_cast<double>(position) / static_cast<double>(length));
    timeLabel_->setText(QStringLiteral("%1 / %2").arg(timeText(position, sound_->sampleRate()),
                                                      timeText(length, sound_->sampleRate())));
}

void PlayerWindow::poll() {
    if (!output_) return;
    showPosition();
    if (!output_->hasEnded()) return;
    pollTimer_->stop();
    output_->stop();
    const QString fault = output_->fault();
    if (!fault.isEmpty()) {
        showFailure(QStringLiteral("decoding failed part way (%1)").arg(fault),
                    ExitCode::CannotPlay, true);
        return;
    }
    waveform_->setPosition(1.0);
    close();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            stop();
            return;
        case Qt::Key_Space:
            togglePause();
            return;
        case Qt::Key_Left:
            seekBy(-kSeekStepSeconds);
            return;
        case Qt::Key_Right:
            seekBy(kSeekStepSeconds);
            return;
        case Qt::Key_Home:
            seekTo(0);
            return;
        case Qt::Key_L:
            loopButton_->toggle();
            return;
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // + without Shift on many keyboards
            setVolume(volume() + kVolumeStep);
            return;
        case Qt::Key_Minus:
            setVolume(volume() - kVolumeStep);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    // Closed from the title bar or the desktop: the sound stops with it.
    pollTimer_->stop();
    if (output_) output_->stop();
    if (volumeSaver_->isActive()) saveVolume();
    QWidget::closeEvent(event);
}

int runPlayer(const QByteArray& nativePath) {
    // One voice per user: the earlier player is silent before this one opens
    // its device, and this one stops when a later one starts.
    OneVoice voice(OneVoice::defaultName());
    voice.claim();
    PlayerWindow window(nativePath);
    QObject::connect(&voice, &OneVoice::stopRequested, &window, &PlayerWindow::stop);
    QObject::connect(&voice, &OneVoice::playRequested, &window, &PlayerWindow::playFile);
    // A window that has closed takes no more sounds: whoever asks starts a new player.
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &voice, &OneVoice::release);
    window.setCloseOnFailure(qEnvironmentVariableIntValue("KZW4_AUTOCLOSE") == 1);
    QObject::connect(&window, &PlayerWindow::failed, [](const QString& message) {
        std::fprintf(stderr, "KZW4: %s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    // Started while the user moves through the list, it leaves the focus there.
    if (qEnvironmentVariableIntValue(playback::kBackgroundVariable) == 1) {
        window.setAttribute(Qt::WA_ShowWithoutActivating);
        window.show();
    } else {
        window.show();
        window.raise();
        window.activateWindow();
    }
    window.start();
    QApplication::exec();
    return toInt(window.exitCode());
}

}  // namespace kalvero::player
