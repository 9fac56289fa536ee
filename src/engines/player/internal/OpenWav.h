#pragma once
// Opening a WAV file for the player and the cut: read-only, its chunks walked, and refused unless
// its samples can be copied and played byte for byte.

#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>

namespace quaverly::internal {

// A WAV file open for reading, and where its samples are.
struct OpenWav {
    std::unique_ptr<QFile> file; // open read-only
    WavLayout layout;

    std::uint64_t frames() const { return layout.dataSize / layout.blockAlign; }
};

// Opens `path` when its samples are plain PCM: integer PCM of 8 (unsigned) or 16 (signed) bits,
// frames of exactly one sample per channel. Fails (codes of MciErrors.h, the file named) with
// kFilenameRequired for an empty name, kFileNotFound, kInvalidFile for what is not a file, not a
// WAV file or not plain PCM, and kFileRead for a read the system refused.
Result<OpenWav> openPlainWav(const QString& path);

} // namespace quaverly::internal
