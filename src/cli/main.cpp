// quaverly-cli: convert, join, cut, record and inspect sound files from a command line.
#include "cli/Cli.h"
#include "cli/Console.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    quaverly::cli::prepareConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quaverly-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUAVERLY_VERSION));
    return quaverly::cli::run(app.arguments().mid(1), stdout, stderr);
}
