#include "engines/player/MciErrors.h"

namespace quaverly::mcierr {

QString text(int code) {
    switch (code) {
    case kInvalidDeviceId:
        return QStringLiteral("no file is open");
    case kHardware:
        return QStringLiteral("the sound device failed");
    case kOutOfMemory:
        return QStringLiteral("out of memory");
    case kFileNotFound:
        return QStringLiteral("file not found");
    case kOutOfRange:
        return QStringLiteral("position outside the sound");
    case kFileNotSaved:
        return QStringLiteral("the file was not saved");
    case kInvalidFile:
        return QStringLiteral("not an 8 or 16-bit PCM WAV file");
    case kFilenameRequired:
        return QStringLiteral("a file name is required");
    case kFileRead:
        return QStringLiteral("the file could not be read");
    case kFileWrite:
        return QStringLiteral("the file could not be written");
    default:
        return QStringLiteral("unknown error %1").arg(code);
    }
}

QString reason(const Error& error) {
    QString words = text(error.code());
    for (const QString* part : {&error.file(), &error.cause()})
        if (!part->isEmpty())
            words += QStringLiteral(": ") + *part;
    return words;
}

} // namespace quaverly::mcierr
