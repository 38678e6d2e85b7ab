#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kalvero::player {

// Makes sure one user hears one player at a time. The player that claims the
// voice asks the earlier one, through a local socket of the user's own, to
// stop, waits until it has, and then listens on that socket itself so that the
// next player can stop it in turn. A socket left behind by a player that was
// killed answers nobody; it is removed and taken over.
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

signals:
    // A later player asks this one to stop: stop the sound before returning,
    // the later player starts its own once this one has answered.
    void stopRequested();

private:
    void answer();

    QString name_;
    QLocalServer* server_;
};

}  // namespace kalvero::player
