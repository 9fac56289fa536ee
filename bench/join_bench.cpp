// Joins WAV files into one, as "Save The List to Wav" does: quaverly_join_bench OUT IN...
#include "songlist/ListJoin.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: quaverly_join_bench OUT IN...\n");
        return 2;
    }
    const auto joined = quaverly::joinSongs(args.mid(2), args[1]);
    if (!joined) {
        std::fprintf(stderr, "%s\n", qPrintable(joined.error().text()));
        return 1;
    }
    return 0;
}
