#include "engines/player/MciErrors.h"

#include "engines/util/CodeTable.h"

namespace quaverly::mcierr {

namespace {

constexpr std::pair<int, const char*> kTexts[] = {
    {kInvalidDeviceId, "no file is open"},
    {kHardware, "the sound device failed"},
    {kOutOfMemory, "out of memory"},
    {kFileNotFound, "file not found"},
    {kOutOfRange, "position outside the sound"},
    {kFileNotSaved, "the file was not saved"},
    {kInvalidFile, "not an 8 or 16-bit PCM WAV file"},
    {kFilenameRequired, "a file name is required"},
    {kFileRead, "the file could not be read"},
    {kFileWrite, "the file could not be written"},
};

} // namespace

QString text(int code) {
    return codeText(kTexts, code, "unknown error %1");
}

QString reason(const Error& error) {
    QString words = text(error.code());
    for (const QString* part : {&error.file(), &error.cause()})
        if (!part->isEmpty())
            words += QStringLiteral(": ") + *part;
    return words;
}

} // namespace quaverly::mcierr
