#include "engines/encoder/internal/FormatEncoders.h"

#include "engines/util/AtomicFile.h"

namespace quaverly::encode::internal {

// Placeholder until the Flac encoder lands: refuses with words.
std::optional<EncodeFailure> encodeFlac(PcmSource&, const QString&, AtomicFile& out,
                                        const Settings&, const std::stop_token&) {
    return EncodeFailure{EncodeStep::Encode,
                         Error(out.target(), QStringLiteral("not written yet"))};
}

} // namespace quaverly::encode::internal
