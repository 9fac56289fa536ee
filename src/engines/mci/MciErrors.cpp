#include "engines/mci/MciErrors.h"

namespace quaverly::mcierr {

QString text(int code) {
    switch (code) {
    case kNone:
        return QStringLiteral("no error");
    case kInvalidDeviceId:
        return QStringLiteral("no file is open");
    case kUnrecognizedKeyword:
        return QStringLiteral("unknown keyword in the command");
    case kUnrecognizedCommand:
        return QStringLiteral("unknown command");
    case kHardware:
        return QStringLiteral("the sound device failed");
    case kInvalidDeviceName:
        return QStringLiteral("unknown device name");
    case kOutOfMemory:
        return QStringLiteral("out of memory");
    case kMissingCommandString:
        return QStringLiteral("no command given");
    case kBadInteger:
        return QStringLiteral("a number is missing or not a plain decimal integer");
    case kMissingParameter:
        return QStringLiteral("a required parameter is missing");
    case kFileNotFound:
        return QStringLiteral("file not found");
    case kOutOfRange:
        return QStringLiteral("position outside the sound");
    case kFileNotSaved:
        return QStringLiteral("the file was not saved");
    case kDeviceTypeRequired:
        return QStringLiteral("the device type is missing");
    case kDuplicateAlias:
        return QStringLiteral("the alias is already in use");
    case kNoClosingQuote:
        return QStringLiteral("a quoted word has no closing quote");
    case kDuplicateFlags:
        return QStringLiteral("a keyword is given twice");
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

} // namespace quaverly::mcierr
