#pragma once
// Opening a WAV file for the player and the cut: read through the one sample reader, and refused
// unless its samples can be copied and played byte for byte.

#include "engines/util/Error.h"
#include "engines/wav/SampleReader.h"

#include <QString>

namespace quaverly::internal {

// Opens `path` when its samples are plain PCM (isPlainPcm), positioned at its first frame. Fails
// (codes of MciErrors.h, the file named) with kFilenameRequired for an empty name, kFileNotFound,
// kInvalidFile for what is not a file, not a WAV file or not plain PCM, and kFileRead for a read
// the system refused.
Result<SampleReader> openPlainWav(const QString& path);

} // namespace quaverly::internal
