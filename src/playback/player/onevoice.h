#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace kalvero::player {

// Makes sure one user hears one player at a time. The player that claims the
// voice asks the earlier one, through a local socket of the user's own, to
// stop, waits until it has, and then listens on that socket itself so that the
// next player can stop it in turn. A socket left behind by a player that was
// killed answers nobody; it is removed and taken over.
//
// The same socket takes the next sound: the program sends the player's one
// argument, and the running player checks it as its command line is checked
// and switches to it, instead of a new process starting for every sound.
//
// Requests are lines. "stop" is answered "stopped" once the sound is silent;
// "play " and the argument in Base64 (a path may hold a line break) is
// answered "playing" or "refused". A connection may carry any number of them.
class OneVoice : public QObject {
    Q_OBJECT
public:
    // `name` is the local socket's name or full path; defaultName() for the player.
    explicit OneVoice(QString name, QObject* parent = nullptr);
    ~OneVoice() override;

    // The user's own socket: in the user's runtime folder, named after the user.
    static QString defaultName();

    // Stops an earlier player and starts listening. Returns false when this
    // player could not listen (it plays anyway; the next one cannot stop it).
    bool claim();
    // Stops listening and drops every connection: a player on its way out
    // takes no more sounds, so whoever asks starts a new one at once.
    void release();

    // The request that hands `argument` ("<path>::<token>") to a running player.
    static QByteArray playRequest(const QByteArray& argument);
    static constexpr const char* kPlayingAnswer = "playing\n";
    static constexpr const char* kRefusedAnswer = "refused\n";

signals:
    // A later player asks this one to stop: stop the sound before returning,
    // the later player starts its own once this one has answered.
    void stopRequested();
    // The program hands over a sound; `nativePath` passed the argument's checks.
    void playRequested(const QByteArray& nativePath);

private:
    void answer();
    void readRequests(QLocalSocket* socket);

    QString name_;
    QLocalServer* server_;
    bool released_ = false;
};

}  // namespace kalvero::player
