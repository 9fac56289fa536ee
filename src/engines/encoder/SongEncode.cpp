#include "engines/encoder/SongEncode.h"

#include "engines/encoder/internal/ConvertedSource.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/util/AtomicFile.h"

#include <algorithm>
#include <array>

namespace quaverly::encode {
namespace {

Error failure(EncodeStep step, const QString& file, const QString& cause) {
    return Error(file, cause).during(step);
}

// The value range each codec takes, wider than what the window offers.
struct Range {
    int low;
    int high;
};
Range valueRange(Format format) {
    switch (format) {
    case Format::Mp3:
        return {8, 320};
    case Format::M4a:
    case Format::M4r:
        return {16, 320};
    case Format::Vorbis:
        return {0, 10};
    case Format::Opus:
        return {6, 256};
    case Format::Flac:
        return {0, 8};
    }
    return {0, 0};
}

QString rangeText(const formats::FileFormat& f, Range r) {
    switch (f.setting) {
    case Setting::BitRate:
        return QStringLiteral("%1 takes %2 to %3 kbit/s").arg(f.name).arg(r.low).arg(r.high);
    case Setting::Quality:
        return QStringLiteral("%1 takes a quality of %2 to %3").arg(f.name).arg(r.low).arg(r.high);
    case Setting::Level:
        return QStringLiteral("%1 takes a compression level of %2 to %3")
            .arg(f.name)
            .arg(r.low)
            .arg(r.high);
    }
    return {};
}

TagKind tagKind(Format format) {
    switch (format) {
    case Format::Mp3:
        return TagKind::Id3v2;
    case Format::M4a:
    case Format::M4r:
        return TagKind::Mp4;
    case Format::Vorbis:
    case Format::Opus:
        return TagKind::Ogg;
    case Format::Flac:
        return TagKind::Flac;
    }
    return TagKind::Id3v2;
}

// The rate the codec is given: the one asked for, else the source's, moved to the nearest rate
// above that the codec takes (else its highest) when it takes only some.
int encodingRate(Format format, int asked) {
    const std::span<const int> rates = internal::codecRates(format);
    if (rates.empty() || std::ranges::find(rates, asked) != rates.end())
        return asked;
    const auto above = std::ranges::find_if(rates, [asked](int r) { return r > asked; });
    return above != rates.end() ? *above : rates.back();
}

// The codec encoders that write into an AtomicFile, then the tags, then the commit.
Status encodeInto(PcmSource& source, const QString& sourceName, const QString& target,
                  const Settings& settings, ClipTags tags, const std::stop_token& stop) {
    AtomicFile out(target);
    if (Status s = out.open(); !s)
        return internal::writeFailure(s.error());
    Status failed;
    switch (settings.format) {
    case Format::M4a:
    case Format::M4r: {
        AacGapless gapless;
        failed = internal::encodeAac(source, sourceName, out, settings, stop, &gapless);
        tags.gapless = gapless;
        break;
    }
    // The Ogg streams carry their tags from the start.
    case Format::Vorbis:
        failed = internal::encodeVorbis(source, out, settings, oggCommentFields(tags), stop);
        break;
    case Format::Opus:
        failed = internal::encodeOpus(source, out, settings, oggCommentFields(tags), stop);
        break;
    case Format::Flac:
        failed = internal::encodeFlac(source, sourceName, out, settings, stop);
        break;
    case Format::Mp3:
        break;
    }
    if (!failed)
        return failed;
    if (stop.stop_requested())
        return internal::cancelled(out);
    const TagKind kind = tagKind(settings.format);
    if (Status s = kind == TagKind::Ogg ? Status() : writeClipTags(out, kind, tags); !s)
        return internal::writeFailure(s.error());
    if (Status s = out.commit(); !s)
        return internal::writeFailure(s.error());
    return {};
}

} // namespace

int Settings::effectiveValue() const {
    return value.value_or(formats::info(format).defaultValue);
}

Status checkSettings(const Settings& settings, const QString& target) {
    const formats::FileFormat& f = formats::info(settings.format);
    const int v = settings.effectiveValue();
    if (settings.format == Format::Mp3 && !mp3::isValidBitRate(v))
        return Error(target, QStringLiteral("%1 kbit/s is not an MP3 bit rate").arg(v));
    if (const Range r = valueRange(settings.format); v < r.low || v > r.high)
        return Error(target, rangeText(f, r));
    if (settings.format == Format::M4a || settings.format == Format::M4r)
        if (const QString missing = internal::aacEncoderMissing(); !missing.isEmpty())
            return Error(target, missing);
    if (settings.sampleRate != 0 && (settings.sampleRate < 8000 || settings.sampleRate > 192000))
        return Error(
            target,
            QStringLiteral("%1 Hz is not a sample rate that is written").arg(settings.sampleRate));
    if (settings.channels < 0 || settings.channels > 2)
        return Error(target, QStringLiteral("only mono and stereo are written"));
    return {};
}

Status encodeSong(PcmSource& source, const QString& sourceName, const QString& target,
                  const Settings& settings, const ClipTags& tags, std::stop_token stop) {
    if (target.isEmpty())
        return failure(EncodeStep::Encode, sourceName, QStringLiteral("no target file given"));
    if (Status s = checkSettings(settings, target); !s)
        return s.error().during(EncodeStep::Encode);
    const int inRate = source.sampleRate();
    const int inChannels = source.channels();
    if (inChannels < 1 || inChannels > 2 || inRate <= 0)
        return failure(EncodeStep::Encode, sourceName,
                       QStringLiteral("%1 channel(s) at %2 Hz").arg(inChannels).arg(inRate));

    const int rate =
        encodingRate(settings.format, settings.sampleRate ? settings.sampleRate : inRate);
    const int channels = settings.channels ? settings.channels : inChannels;
    PcmSource* input = &source;
    std::optional<internal::ConvertedSource> converted;
    if (rate != inRate || channels != inChannels) {
        converted.emplace(source, rate, channels);
        if (Status s = converted->open(); !s)
            return failure(EncodeStep::Resample, sourceName, s.error().cause());
        input = &*converted;
    }

    Status done;
    if (settings.format == Format::Mp3) {
        const std::function<Status(AtomicFile&)> tag = [&tags](AtomicFile& out) {
            return writeClipTags(out, TagKind::Id3v2, tags);
        };
        done =
            internal::encodeMp3(*input, sourceName, target, settings.effectiveValue(), stop, tag);
    } else {
        done = encodeInto(*input, sourceName, target, settings, tags, stop);
    }
    // A failure of the conversion in between is the source's, named as the source.
    if (!done && done.error().file().isEmpty() && encodeStep(done.error()) == EncodeStep::Source)
        return done.error().about(sourceName);
    return done;
}

namespace internal {

std::span<const int> codecRates(Format format) {
    // The rates MPEG-4 audio signals by index; AAC at any other needs an explicit rate field
    // that players do not all read.
    static constexpr std::array<int, 12> kAacRates{8000,  11025, 12000, 16000, 22050, 24000,
                                                   32000, 44100, 48000, 64000, 88200, 96000};
    if (format == Format::M4a || format == Format::M4r)
        return kAacRates;
    return {};
}

} // namespace internal
} // namespace quaverly::encode
