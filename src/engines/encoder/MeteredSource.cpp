#include "engines/encoder/MeteredSource.h"

#include <algorithm>

namespace quaverly::encode {

MeteredSource::MeteredSource(PcmSource& source, Progress progress)
    : source_(source), progress_(std::move(progress)),
      total_(std::uint64_t(std::max<std::int64_t>(source.lengthHint(), 0))) {
    if (progress_)
        progress_(0, total_);
}

Result<std::size_t> MeteredSource::read(float* dst, std::size_t frames) {
    auto got = source_.read(dst, frames);
    if (!got) {
        readFailed_ = true;
        return got;
    }
    read_ += *got;
    if (progress_)
        progress_(read_, total_);
    return got;
}

bool MeteredSource::rewind() {
    read_ = 0;
    if (progress_)
        progress_(0, total_);
    return source_.rewind();
}

SourceFactory wavFileSource(const QString& wav) {
    return [wav] { return openWavSource(wav); };
}

std::optional<EncodeFailure> encodeMetered(const EncodeOrder& order, std::stop_token stop,
                                           const Progress& progress) {
    const bool plainMp3 = !order.tags;
    const int kbps = order.settings.effectiveValue();
    auto pcm = order.make();
    if (!pcm) {
        if (!order.sourceIsWav)
            return EncodeFailure{EncodeStep::Source, pcm.error()};
        // The plain MP3 job refuses a WAV file in the encoder's own words, some of which are
        // the encoding's rather than the reading's ("it contains no audio"): let it say them.
        if (plainMp3)
            return mp3::encodeWavToMp3(order.sourceName, order.target, kbps, std::move(stop));
        return EncodeFailure{EncodeStep::ReadWav, pcm.error()};
    }
    MeteredSource source(**pcm, progress);
    if (!plainMp3)
        return encodeSong(source, order.sourceName, order.target, order.settings, *order.tags,
                          std::move(stop));
    // The same encoding as encodeWavToMp3 for a WAV file (the same source, the same bytes),
    // with its failures to read the file told as such.
    auto failed = mp3::encodeToMp3(source, order.sourceName, order.target, kbps, std::move(stop));
    if (failed && order.sourceIsWav && failed->step == EncodeStep::Source && source.readFailed())
        failed->step = EncodeStep::ReadWav;
    return failed;
}

} // namespace quaverly::encode
