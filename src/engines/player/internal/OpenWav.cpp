#include "engines/player/internal/OpenWav.h"

#include "engines/player/MciErrors.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>

namespace quaverly::internal {

Result<OpenWav> openPlainWav(const QString& path) {
    if (path.isEmpty())
        return Error({}, {}, mcierr::kFilenameRequired);
    const QFileInfo info(path);
    if (!info.exists())
        return Error(path, {}, mcierr::kFileNotFound);
    if (!info.isFile())
        return Error(path, QStringLiteral("not a file"), mcierr::kInvalidFile);
    OpenWav wav{std::make_unique<QFile>(path), {}};
    if (!wav.file->open(QIODevice::ReadOnly))
        return Error(path, wav.file->errorString(), mcierr::kFileRead);
    const auto layout = probeWav(*wav.file);
    if (!layout)
        return Error(path, layout.error().cause(),
                     wav.file->error() == QFileDevice::ReadError ? mcierr::kFileRead
                                                                 : mcierr::kInvalidFile);
    if (!isPlainPcm(*layout))
        return Error(path,
                     QStringLiteral("format %1, %2 bits, %3 channels")
                         .arg(layout->formatTag)
                         .arg(layout->bitsPerSample)
                         .arg(layout->channels),
                     mcierr::kInvalidFile);
    wav.layout = *layout;
    return wav;
}

} // namespace quaverly::internal
