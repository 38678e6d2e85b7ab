#include "playback/launcher.h"

#include <QProcess>

namespace kalvero::playback {

Launcher::Launcher()
    : start_([](const PlayerCommand& command) {
          return QProcess::startDetached(command.program, command.arguments);
      }) {}

Launcher::Launcher(StartFunction start) : start_(std::move(start)) {}

void Launcher::play(const QString& programFolder, const QString& filePath) const {
    start_(playerCommand(programFolder, filePath));
}

}  // namespace kalvero::playback
