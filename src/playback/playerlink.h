#pragma once

#include "playback/playercommand.h"

#include <QElapsedTimer>
#include <QObject>
#include <deque>
#include <functional>

class QLocalSocket;
class QTimer;

namespace kalvero::playback {

// Hands each sound to the user's running player over the player's own
// socket, and starts a player only when none runs. A hand-over takes a
// millisecond where starting a process takes a good part of a second, so
// the list can be auditioned row by row.
//
// Nothing here waits for long: the socket is reached at once or not at all,
// and the player's answer is awaited in the event loop. Sounds asked for
// while one is on its way wait their turn, and only the newest of them goes
// to the player: one player plays one sound. A player that does not answer
// within kAnswerMilliseconds is replaced by a new one (which takes the
// socket from it). While a started player is still coming up, sounds met
// on the way through the list wait for it rather than start players of their
// own; a sound the user asks for by name (PlayerCommand::takeFocus) never
// waits for it.
class PlayerLink : public QObject {
    Q_OBJECT
public:
    // Starts a player; gives its process id, or 0 when it could not be started.
    using StartProcess = std::function<qint64(const PlayerCommand&)>;

    // `socketName`: the running player's socket (OneVoice::defaultName()).
    PlayerLink(QString socketName, StartProcess start, QObject* parent = nullptr);
    ~PlayerLink() override;

    void play(const PlayerCommand& command);
    // Nothing waits to be handed over or started.
    bool isIdle() const { return state_ == State::Idle && queue_.empty(); }

    static constexpr int kAnswerMilliseconds = 500;

private:
    enum class State { Idle, Asking, Starting };

    void next();
    bool connectToPlayer();
    void handOver();
    void readAnswer();
    void notAnswered();
    void connectionLost();
    void startNext();
    bool startProcess(const PlayerCommand& command);
    void watchStart();
    bool startedPlayerMayComeUp() const;

    QString socketName_;
    StartProcess start_;
    QLocalSocket* socket_;
    QTimer* answerTimer_;
    QTimer* startTimer_;
    State state_ = State::Idle;
    std::deque<PlayerCommand> queue_;
    PlayerCommand inFlight_;
    // The connection was made for the sound in flight, not kept from before.
    bool fresh_ = false;
    qint64 startedPid_ = 0;
    QElapsedTimer sinceStart_;
};

}  // namespace kalvero::playback
