#include "engines/player/internal/OpenWav.h"

#include "engines/player/MciErrors.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>

namespace quaverly::internal {
namespace {

// What a WAV file's samples are, for the message that refuses them; the reader's own cause when
// the header cannot be read again.
QString formatOf(const QString& path, const QString& fallback) {
    const auto layout = probeWav(path);
    if (!layout)
        return fallback;
    return QStringLiteral("format %1, %2 bits, %3 channels")
        .arg(layout->formatTag)
        .arg(layout->bitsPerSample)
        .arg(layout->channels);
}

} // namespace

Result<SampleReader> openPlainWav(const QString& path) {
    if (path.isEmpty())
        return Error({}, {}, mcierr::kFilenameRequired);
    const QFileInfo info(path);
    if (!info.exists())
        return Error(path, {}, mcierr::kFileNotFound);
    if (!info.isFile())
        return Error(path, QStringLiteral("not a file"), mcierr::kInvalidFile);
    auto reader = SampleReader::openPlain(path);
    if (reader)
        return reader;
    const Error& e = reader.error();
    switch (e.code()) {
    case sound::kFileForm: // not a WAV file
        return Error(path, e.cause(), mcierr::kInvalidFile);
    case sound::kFormat: // a WAV file, but not plain PCM
        return Error(path, formatOf(path, e.cause()), mcierr::kInvalidFile);
    default: // the system refused a read
        return Error(path, e.cause(), mcierr::kFileRead);
    }
}

} // namespace quaverly::internal
