#include "playback/player/onevoice.h"

#include "playback/player/playerarguments.h"

#include <unistd.h>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstdio>

namespace kalvero::player {

namespace {

constexpr char kStopRequest[] = "stop\n";
constexpr char kStopped[] = "stopped\n";
constexpr char kPlayPrefix[] = "play ";
// The longest request: a command-line argument may take 128 KiB, a third
// more in Base64. Anything longer is a stranger, not the program.
constexpr qint64 kLongestRequest = 256 * 1024;
// A live player answers at once; one that does not within this time is hung
// and its socket is taken over.
constexpr int kAnswerMilliseconds = 1000;
constexpr int kConnectMilliseconds = 200;
// Players started at the same moment may take the socket from each other;
// a few rounds settle who keeps it.
constexpr int kClaimRounds = 5;

// Asks the player listening on `name` to stop. Returns false when nobody
// listens there, so that the socket is stale.
bool askToStop(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kConnectMilliseconds)) return false;
    socket.write(kStopRequest);
    socket.flush();
    // Either the answer or the other side closing means it has stopped.
    while (socket.state() == QLocalSocket::ConnectedState && !socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerMilliseconds)) break;
    }
    return true;
}

}  // namespace

OneVoice::OneVoice(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)), server_(new QLocalServer(this)) {
    // No socket options: with them Qt binds elsewhere and renames the socket
    // over the name, which would take it from a live player without asking.
    // Bound in place, a taken name is refused, and the runtime folder is the
    // user's own.
    connect(server_, &QLocalServer::newConnection, this, &OneVoice::answer);
}

OneVoice::~OneVoice() { server_->close(); }

QString OneVoice::defaultName() {
    const QString name = QStringLiteral("KZW4-voice-%1").arg(::getuid());
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Without a runtime folder Qt puts the socket in the temporary folder,
    // where the user's id in the name keeps users apart.
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
}

bool OneVoice::claim() {
    for (int round = 0; round < kClaimRounds; ++round) {
        if (server_->listen(name_)) return true;
        if (server_->serverError() != QAbstractSocket::AddressInUseError) return false;
        // Someone holds the name: a playing player, or the socket of a killed one.
        if (!askToStop(name_)) QLocalServer::removeServer(name_);
        // A player that stopped has closed its socket; a hung one has not.
        else if (round == kClaimRounds - 2)
            QLocalServer::removeServer(name_);
    }
    return server_->listen(name_);
}

void OneVoice::release() {
    released_ = true;
    server_->close();
    for (QLocalSocket* socket : findChildren<QLocalSocket*>()) socket->abort();
}

QByteArray OneVoice::playRequest(const QByteArray& argument) {
    return kPlayPrefix + argument.toBase64() + '\n';
}

void OneVoice::answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // Ours, so that release() finds it.
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequests(socket); });
        // Lines may have come with the connection.
        if (socket->bytesAvailable() > 0) readRequests(socket);
    }
}

void OneVoice::readRequests(QLocalSocket* socket) {
    while (socket->state() == QLocalSocket::ConnectedState) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kLongestRequest) socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(kLongestRequest + 1);
        if (released_) {
            socket->abort();
            return;
        }
        if (line == QByteArray(kStopRequest)) {
            // The socket goes first, so the later player can listen at once.
            server_->close();
            released_ = true;
            emit stopRequested();
            socket->write(kStopped);
            socket->flush();
            socket->disconnectFromServer();
            return;
        }
        if (!line.startsWith(kPlayPrefix) || !line.endsWith('\n')) {
            socket->abort();
            return;
        }
        const auto decoded =
            QByteArray::fromBase64Encoding(line.mid(qsizetype(sizeof kPlayPrefix) - 1).chopped(1),
                                           QByteArray::AbortOnBase64DecodingErrors);
        const PlayerArguments arguments =
            decoded ? checkPlayerArgument(*decoded) : PlayerArguments{};
        if (!arguments.accepted) {
            const QString refusal = arguments.refusal.isEmpty()
                                        ? QStringLiteral(
                                              "KZW4: a sound was handed over garbled; "
                                              "it was not played.")
                                        : arguments.refusal;
            std::fprintf(stderr, "%s\n", refusal.toLocal8Bit().constData());
            std::fflush(stderr);
            socket->write(kRefusedAnswer);
            socket->flush();
            continue;
        }
        // Answered before the switch: the program waits only for the answer,
        // never for the file to open.
        socket->write(kPlayingAnswer);
        socket->flush();
        emit playRequested(arguments.nativePath);
    }
}

}  // namespace kalvero::player
