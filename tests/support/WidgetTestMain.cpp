// The window tests' main: a QApplication for the widgets, and a helper mode in which this
// program stands in for another running instance that holds a working folder.
#include "ui/WorkFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

// Claims a working folder, puts a work file and a sub-folder with a file in it, says where on
// stdout and then waits to be killed, like an instance that crashes with songs in its folder.
// Should the test go first, its end of our standard input closes and we end too.
int holdWorkFolder() {
    quaverly::WorkFolder work;
    if (const quaverly::Status opened = work.open(); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error().text()));
        return 1;
    }
    QFile song(work.path() + QStringLiteral("song.wav"));
    if (!song.open(QIODevice::WriteOnly) || song.write("RIFF") != 4) {
        return 1;
    }
    song.close();
    QDir(work.path()).mkpath(QStringLiteral("keep/inner"));
    QFile inner(work.path() + QStringLiteral("keep/inner/file.txt"));
    if (!inner.open(QIODevice::WriteOnly)) {
        return 1;
    }
    inner.close();
    std::printf("READY %s\n", qPrintable(work.path()));
    std::fflush(stdout);
    char c = 0;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc > 1 && std::strcmp(argv[1], "--hold-work-folder") == 0) {
        QCoreApplication app(argc, argv);
        return holdWorkFolder();
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
