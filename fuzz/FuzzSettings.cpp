// The settings file reader on arbitrary file contents.

#include "FuzzSupport.h"

#include "app/SettingsFile.h"

#include <QFileInfo>

using namespace quaverly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = fuzz::workFolder() + QStringLiteral("/config.ini");
    static const QString again = fuzz::workFolder() + QStringLiteral("/again.ini");
    fuzz::writeFile(path, reinterpret_cast<const char*>(data), static_cast<qint64>(size));

    const auto settings = readSettings(path);
    if (!settings)
        return 0;
    if (!isOfferedBitRate(settings->outBitRate) || !QFileInfo(settings->baseFolder).isDir())
        fuzz::fail("accepted settings that are not valid");
    // What was read, written the program's way, reads back the same.
    const QByteArray text = formatSettings(*settings);
    fuzz::writeFile(again, text.constData(), text.size());
    const auto reread = readSettings(again);
    if (!reread || reread->outBitRate != settings->outBitRate ||
        reread->baseFolder != settings->baseFolder)
        fuzz::fail("written settings do not read back the same");
    return 0;
}
