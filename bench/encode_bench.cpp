// Encodes one WAV file to a plain MP3 the way the window's MP3 jobs and the command line do: one
// encoding order run by encodeMetered.
//   quaverly_encode_bench IN.wav OUT.mp3 [KBPS]      (KBPS defaults to 128)
// Exit status 0 when the encoding succeeded; the error goes to stderr otherwise.

#include "engines/encoder/MeteredSource.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: %s IN.wav OUT.mp3 [KBPS]\n", argv[0]);
        return 2;
    }
    int kbps = 128;
    if (args.size() == 4) {
        bool number = false;
        kbps = args[3].toInt(&number);
        if (!number || !quaverly::mp3::isValidBitRate(kbps)) {
            std::fprintf(stderr, "not an MP3 bit rate: %s\n", qPrintable(args[3]));
            return 2;
        }
    }
    using namespace quaverly::encode;
    const EncodeOrder order{wavFileSource(args[1]), args[1], true, args[2],
                            {Format::Mp3, kbps},    {}};
    const quaverly::Status done = encodeMetered(order);
    if (!done) {
        std::fprintf(stderr, "%s\n", qPrintable(done.error().text()));
        return 1;
    }
    return 0;
}
