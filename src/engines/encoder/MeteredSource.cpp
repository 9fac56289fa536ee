#include "engines/encoder/MeteredSource.h"

#include <algorithm>

namespace quaverly::encode {

MeteredSource::MeteredSource(PcmSource& source, WorkProgress work)
    : source_(source), work_(std::move(work)),
      total_(std::uint64_t(std::max<std::int64_t>(source.lengthHint(), 0))) {
    work_.report(0, total_);
}

Result<std::size_t> MeteredSource::read(float* dst, std::size_t frames) {
    auto got = source_.read(dst, frames);
    if (!got) {
        readFailed_ = true;
        return got;
    }
    read_ += *got;
    work_.report(read_, total_);
    return got;
}

bool MeteredSource::rewind() {
    read_ = 0;
    work_.report(0, total_);
    return source_.rewind();
}

SourceFactory wavFileSource(const QString& wav) {
    return [wav] { return openWavSource(wav); };
}

Status encodeMetered(const EncodeOrder& order, const WorkProgress& work) {
    const std::stop_token& stop = work.stop;
    const bool plainMp3 = !order.tags;
    const int kbps = order.settings.effectiveValue();
    auto pcm = order.make();
    if (!pcm) {
        if (!order.sourceIsWav)
            return pcm.error().during(EncodeStep::Source);
        // The plain MP3 job refuses a WAV file in the encoder's own words, some of which are
        // the encoding's rather than the reading's ("it contains no audio"): let it say them.
        if (plainMp3)
            return mp3::encodeWavToMp3(order.sourceName, order.target, kbps, stop);
        return pcm.error().during(EncodeStep::ReadWav);
    }
    MeteredSource source(**pcm, work);
    if (!plainMp3)
        return encodeSong(source, order.sourceName, order.target, order.settings, *order.tags,
                          stop);
    // The same encoding as encodeWavToMp3 for a WAV file (the same source, the same bytes),
    // with its failures to read the file told as such.
    Status done = mp3::encodeToMp3(source, order.sourceName, order.target, kbps, stop);
    if (!done && order.sourceIsWav && encodeStep(done.error()) == EncodeStep::Source &&
        source.readFailed())
        return done.error().during(EncodeStep::ReadWav);
    return done;
}

} // namespace quaverly::encode
