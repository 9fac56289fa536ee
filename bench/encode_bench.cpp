// Encodes one WAV file to MP3 through Mp3Encoder, the way the program does: queue the job, run
// the event loop until EncodeDone.
//   quaverly_encode_bench IN.wav OUT.mp3 [KBPS]      (KBPS defaults to 128)
// Exit status 0 when the encoding succeeded; the error goes to stderr otherwise.

#include "engines/encoder/Mp3Encoder.h"

#include <QCoreApplication>
#include <QObject>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: %s IN.wav OUT.mp3 [KBPS]\n", argv[0]);
        return 2;
    }
    quaverly::Mp3Encoder encoder;
    if (args.size() == 4) {
        bool number = false;
        const int kbps = args[3].toInt(&number);
        if (!number || !quaverly::Mp3Encoder::isValidBitRate(kbps)) {
            std::fprintf(stderr, "not an MP3 bit rate: %s\n", qPrintable(args[3]));
            return 2;
        }
        encoder.setBitRate(kbps);
    } else {
        encoder.setBitRate(128);
    }
    int status = 1;
    QObject::connect(&encoder, &quaverly::Mp3Encoder::EncodeDone, &app,
                     [&](const quaverly::EncodeResult& r) {
                         if (!r.ok())
                             std::fprintf(stderr, "%s\n", qPrintable(r.failure->error.text()));
                         status = r.ok() ? 0 : 1;
                         app.quit();
                     });
    encoder.EncodeFiles(args[1], args[2]);
    app.exec();
    return status;
}
