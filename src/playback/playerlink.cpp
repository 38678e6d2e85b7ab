#include "playback/playerlink.h"

#include "playback/player/onevoice.h"

#include <signal.h>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

namespace kalvero::playback {

namespace {

// A local socket is reached at once or refused at once; the limit only
// keeps a full queue of a hung player from holding the window.
constexpr int kConnectMilliseconds = 50;
constexpr int kStartPollMilliseconds = 10;
// A started player that has not taken the socket by then never will (it
// could not listen); later sounds start players of their own again.
constexpr int kStartLimitMilliseconds = 5000;

// Whether the process still runs: not gone, and not a zombie nobody reaped.
bool isRunning(qint64 pid) {
    if (pid <= 0) return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return ::kill(static_cast<pid_t>(pid), 0) == 0;
    // "pid (name) state ...": the name may hold anything, the state follows its last ')'.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size()) return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

}  // namespace

PlayerLink::PlayerLink(QString socketName, StartProcess start, QObject* parent)
    : QObject(parent),
      socketName_(std::move(socketName)),
      start_(std::move(start)),
      socket_(new QLocalSocket(this)),
      answerTimer_(new QTimer(this)),
      startTimer_(new QTimer(this)) {
    answerTimer_->setSingleShot(true);
    answerTimer_->setInterval(kAnswerMilliseconds);
    connect(answerTimer_, &QTimer::timeout, this, &PlayerLink::notAnswered);
    startTimer_->setInterval(kStartPollMilliseconds);
    connect(startTimer_, &QTimer::timeout, this, &PlayerLink::watchStart);
    connect(socket_, &QLocalSocket::readyRead, this, &PlayerLink::readAnswer);
    connect(socket_, &QLocalSocket::disconnected, this, &PlayerLink::connectionLost);
}

PlayerLink::~PlayerLink() {
    // Leaving: nothing that is still waiting is handed over.
    state_ = State::Idle;
    queue_.clear();
    socket_->abort();
}

void PlayerLink::play(const PlayerCommand& command) {
    if (state_ == State::Starting && command.takeFocus) {
        // A sound the user asked for by name does not wait for a player
        // still coming up: it reaches a player now, or starts one, as every
        // such sound always has. What waited is older than it.
        startTimer_->stop();
        state_ = State::Idle;
        queue_.clear();
    }
    queue_.push_back(command);
    if (state_ == State::Idle) next();
}

void PlayerLink::next() {
    if (state_ != State::Idle || queue_.empty()) return;
    if (socket_->state() == QLocalSocket::ConnectedState || connectToPlayer()) {
        handOver();
        return;
    }
    startNext();
}

bool PlayerLink::connectToPlayer() {
    socket_->abort();
    socket_->connectToServer(socketName_);
    if (socket_->waitForConnected(kConnectMilliseconds)) {
        fresh_ = true;
        return true;
    }
    socket_->abort();
    return false;
}

void PlayerLink::handOver() {
    // Of the sounds asked for meanwhile, only the newest is worth hearing.
    inFlight_ = queue_.back();
    queue_.clear();
    state_ = State::Asking;
    answerTimer_->start();
    socket_->write(player::OneVoice::playRequest(QFile::encodeName(inFlight_.arguments.value(0))));
    // Last: a connection found closed is reported from here.
    socket_->flush();
}

void PlayerLink::readAnswer() {
    if (state_ != State::Asking) {
        socket_->readAll();
        return;
    }
    if (!socket_->canReadLine()) return;
    const QByteArray line = socket_->readLine();
    if (line != QByteArray(player::OneVoice::kPlayingAnswer) &&
        line != QByteArray(player::OneVoice::kRefusedAnswer)) {
        // Not a player's answer: whatever holds the socket is replaced.
        notAnswered();
        return;
    }
    answerTimer_->stop();
    state_ = State::Idle;
    fresh_ = false;
    startedPid_ = 0;
    next();
}

void PlayerLink::notAnswered() {
    if (state_ != State::Asking) return;
    answerTimer_->stop();
    state_ = State::Idle;
    fresh_ = false;
    socket_->abort();
    queue_.push_front(inFlight_);
    if (startedPlayerMayComeUp()) {
        // The player started to replace this one has not taken the socket yet.
        state_ = State::Starting;
        startTimer_->start();
        return;
    }
    // A hung player: a new one asks it to stop and takes the socket from it,
    // as every player does. It starts with the newest sound.
    const PlayerCommand newest = queue_.back();
    queue_.clear();
    startProcess(newest);
}

void PlayerLink::connectionLost() {
    if (state_ != State::Asking) return;
    answerTimer_->stop();
    state_ = State::Idle;
    // The player went away before it took the sound: it had just ended, or
    // another player took over. A kept connection is tried anew once; a
    // fresh one that is dropped means nobody takes sounds there.
    queue_.push_front(inFlight_);
    const bool wasFresh = std::exchange(fresh_, false);
    // Not from inside the socket's own signal.
    QTimer::singleShot(0, this, [this, wasFresh] {
        if (state_ != State::Idle) return;
        if (wasFresh)
            startNext();
        else
            next();
    });
}

void PlayerLink::startNext() {
    // Nobody listens: the sound starts a player of its own, as every sound
    // did before players took them over the socket. Sounds asked for while
    // it comes up go to it.
    while (state_ == State::Idle && !queue_.empty()) {
        const PlayerCommand command = queue_.front();
        queue_.pop_front();
        startProcess(command);
    }
}

bool PlayerLink::startProcess(const PlayerCommand& command) {
    const qint64 pid = start_(command);
    // A player that is missing or does not start is ignored, as always.
    if (pid <= 0) return false;
    startedPid_ = pid;
    sinceStart_.start();
    state_ = State::Starting;
    startTimer_->start();
    return true;
}

bool PlayerLink::startedPlayerMayComeUp() const {
    return sinceStart_.isValid() && sinceStart_.elapsed() < kStartLimitMilliseconds &&
           isRunning(startedPid_);
}

void PlayerLink::watchStart() {
    if (state_ != State::Starting) {
        startTimer_->stop();
        return;
    }
    if (connectToPlayer()) {
        // The new player, or the hung one it is replacing: the answer tells.
        startTimer_->stop();
        state_ = State::Idle;
        if (!queue_.empty()) handOver();
        return;
    }
    if (startedPlayerMayComeUp()) return;
    startTimer_->stop();
    startedPid_ = 0;
    state_ = State::Idle;
    startNext();
}

}  // namespace kalvero::playback
