#include "engines/encoder/internal/FormatEncoders.h"

#include "engines/util/AtomicFile.h"

namespace quaverly::encode::internal {

// Placeholder until the Aac encoder lands: refuses with words.
std::optional<EncodeFailure> encodeAac(PcmSource&, const QString&, AtomicFile& out, const Settings&,
                                       const std::stop_token&, AacGapless*) {
    return EncodeFailure{EncodeStep::Encode,
                         Error(out.target(), QStringLiteral("not written yet"))};
}

bool aacEncoderPresent() {
    return true;
}

} // namespace quaverly::encode::internal
