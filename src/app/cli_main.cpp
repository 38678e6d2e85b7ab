#include "cli/cli.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvero-cli"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kalvero"));
    kalvero::cli::Console console(stdout, stderr);
    // The default catalogue lives beside the program, as the window's does.
    return kalvero::cli::run(QCoreApplication::arguments(), QCoreApplication::applicationDirPath(),
                             console);
}
