// The program: creates the main window with the desktop's dialogs and runs until the window's
// shutdown asks to quit. Songs named on the command line join the song list at start.
#include "app/Frmmain.h"
#include "app/Screenshots.h"
#include "app/Version.h"
#include "ui/QtDialogs.h"
#include "ui/ThemeColours.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>

namespace {

// --version is answered before the QApplication exists, which needs a display: a terminal
// without one, a packaging check or a script can still ask for it. Words after "--" are songs.
bool versionAsked(int argc, char* argv[]) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (versionAsked(argc, argv)) {
        std::printf("%s %s\n", quaverly::kApplicationTitle, quaverly::kVersionText);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(quaverly::kApplicationTitle));
    QApplication::setApplicationVersion(QLatin1String(quaverly::kVersionText));
    QApplication::setOrganizationName(QLatin1String(quaverly::kMakerName));
    // The installed desktop entry's name (QUAVERLY_APP_ID in cmake/Packaging.cmake): Wayland
    // desktops match the window to its entry and icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quaverly.Quaverly"));
    // The desktop's colours, with any text role it leaves too faint made readable.
    quaverly::keepPaletteReadable();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Turns songs into short clips."));
    parser.addHelpOption();
    parser.addVersionOption();
    // For the documentation and for checking the look: grab every panel to PNG files and end.
    QCommandLineOption screenshots(QStringLiteral("screenshots"),
                                   QStringLiteral("Save a picture of each panel in DIR and quit."),
                                   QStringLiteral("DIR"));
    screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshots);
    // The second run of --screenshots, at 200 %: the first starts it.
    QCommandLineOption secondScale(QStringLiteral("screenshots-at-2x"));
    secondScale.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(secondScale);
    parser.addPositionalArgument(
        QStringLiteral("songs"),
        QStringLiteral("Song files (WAV, MP3, FLAC, M4A, Ogg, ...) to put in the song list."),
        QStringLiteral("[songs...]"));
    parser.process(app);
    const QStringList songs = parser.positionalArguments();

    quaverly::QtDialogs dialogs;
    if (parser.isSet(screenshots)) {
        return quaverly::takeScreenshots(dialogs, QCoreApplication::applicationFilePath(), songs,
                                         parser.value(screenshots), parser.isSet(secondScale));
    }
    quaverly::Frmmain window(dialogs);
    dialogs.setParentWindow(&window);
    QObject::connect(&window, &quaverly::Frmmain::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    window.activateWindow();
    // Once the window is up, so that what cannot be added is reported over it.
    if (!songs.isEmpty()) {
        QMetaObject::invokeMethod(
            &window, [&window, songs] { window.songList->addFiles(songs); }, Qt::QueuedConnection);
    }
    return QApplication::exec();
}
