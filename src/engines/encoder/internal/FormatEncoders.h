#pragma once
// The encoders behind encodeSong, one per codec. Each writes the whole stream into `out`, an
// open AtomicFile it does not commit, and stops within one block when `stop` is requested
// (EncodeStep::Cancel). The source already has the rate and channels the settings ask for and
// the codec takes (encodeSong resamples and mixes before); settings hold a checked value.
// A failure names the target (out.target()) for writing and encoding, the source's own Error
// (EncodeStep::Source) as it came.

#include "engines/encoder/SongEncode.h"

#include <QByteArray>

#include <functional>
#include <vector>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::encode::internal {

// AAC-LC in an MP4 file (ftyp "M4A ", iPod muxer) with an edit list trimming the priming and
// padding; *gapless tells them for the iTunSMPB item.
Status encodeAac(PcmSource& source, const QString& sourceName, AtomicFile& out,
                 const Settings& settings, const std::stop_token& stop, AacGapless* gapless);
// Ogg Vorbis and Opus with `comments` ("KEY=value", as oggCommentFields makes them) in their
// comment header.
Status encodeVorbis(PcmSource& source, AtomicFile& out, const Settings& settings,
                    const std::vector<QByteArray>& comments, const std::stop_token& stop);
Status encodeOpus(PcmSource& source, AtomicFile& out, const Settings& settings,
                  const std::vector<QByteArray>& comments, const std::stop_token& stop);
Status encodeFlac(PcmSource& source, const QString& sourceName, AtomicFile& out,
                  const Settings& settings, const std::stop_token& stop);

// Why no AAC can be written (FFmpeg's module cannot be loaded, or this FFmpeg was built without
// its native AAC encoder); empty when it can.
QString aacEncoderMissing();

// MP3 through the program's LAME encoder (on every core), with `beforeCommit` run on the
// complete file before it is renamed into place (the tags).
Status encodeMp3(PcmSource& source, const QString& sourceName, const QString& target, int kbps,
                 const std::stop_token& stop,
                 const std::function<Status(AtomicFile&)>& beforeCommit);

// The sample rates a codec takes as they are; the source is resampled to the nearest one above
// (else the highest) when its own is not among them. Empty: any rate.
std::span<const int> codecRates(Format format);

} // namespace quaverly::encode::internal
