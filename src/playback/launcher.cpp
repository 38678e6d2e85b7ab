#include "playback/launcher.h"

#include "playback/player/onevoice.h"
#include "playback/playerlink.h"

#include <QProcess>

namespace kalvero::playback {

namespace {

qint64 startDetached(const PlayerCommand& command) {
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    if (!command.takeFocus) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kBackgroundVariable), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
    }
    qint64 pid = 0;
    return process.startDetached(&pid) ? pid : 0;
}

}  // namespace

Launcher::Launcher() = default;

Launcher::Launcher(StartFunction start) : start_(std::move(start)) {}

void Launcher::play(const QString& programFolder, const QString& filePath, bool takeFocus) const {
    PlayerCommand command = playerCommand(programFolder, filePath);
    command.takeFocus = takeFocus;
    if (start_) {
        start_(command);
        return;
    }
    if (!link_)
        link_ = std::make_shared<PlayerLink>(player::OneVoice::defaultName(), &startDetached);
    link_->play(command);
}

}  // namespace kalvero::playback
