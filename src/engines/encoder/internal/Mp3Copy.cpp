// Keeping an MP3 song's frames in its clip.
//
// Positions here are samples of the decoder's raw output: frame n gives samples [n, n + 1) times
// the frame's samples, and the decoder's output lags its input by 529 samples (libmpg123 and
// FFmpeg alike). A gapless decoder skips a LAME tag's encoder delay plus those 529 samples at the
// start and stops its padding less 529 before the end; a song without the tag plays every raw
// sample. So mark m of the song's decode is raw sample m + delay + 529 of the song, or m.
//
// Raw sample r comes out of the polyphase synthesis from the subband samples of its own slot of
// 32 and the 15 slots before it; a slot's subband samples are a granule's (576 samples) inverse
// transform overlapped with the granule before. So the clip decodes sample r exactly as the song
// does once the granule before the one holding slot r/32 - 15 is decoded right, which needs its
// frame's main data: the kept frames go back to the frame holding its first byte (the bit
// reservoir). The frames before that one are kept for their main data alone and decode to
// silence (silencePreroll), which the clip's delay skips.
//
// libmpg123 (x86-64) rounds the sound of its synthesis a little differently by where its ring
// buffer stands, which moves on with every subband slot; only MPEG-1 stereo comes out the same
// wherever it stands. The clip's decoder does not synthesise the song's frames before the clip,
// so a mono or MPEG-2 clip may have a rare sample 1 step off in libmpg123's decode (FFmpeg's is
// exact). An MPEG-1 mono clip is in step when the number of its first kept frame is even (the
// song's decoder synthesises from its first frame, the clip's from the clip's first), so it
// keeps one frame more where that aligns it and the delay allows.
#include "engines/encoder/internal/FrameCopies.h"
#include "engines/encoder/internal/Mp3Frames.h"
#include "engines/encoder/internal/Mp3Scan.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace quaverly::framecopy::internal {
namespace {

constexpr std::uint64_t kDecoderDelay = 529;
constexpr std::uint64_t kGranule = 576;
constexpr std::uint64_t kSynthesisSlots = 15; // slots before a sample's own in its synthesis
constexpr int kMostDelay = 4095;              // the LAME tag's 12 bits
constexpr qint64 kBlock = qint64(1) << 20;

Error cannotKeep(const QString& song, const QString& why) {
    return Error(song, why).during(CopyStep::CannotKeep);
}

// The song's first raw sample that its decode plays.
std::uint64_t firstPlayed(const Mp3Scan& scan) {
    return scan.delay >= 0 ? std::uint64_t(scan.delay) + kDecoderDelay : 0;
}

// Sample frames of the song's gapless decode; 0 when the frames alone cannot tell.
std::uint64_t decodeLength(const Mp3Scan& scan) {
    const std::uint64_t raw = scan.frames.size() * std::uint64_t(scan.samplesPerFrame);
    if (scan.delay < 0)
        return raw;
    if (scan.padding < int(kDecoderDelay) ||
        raw < std::uint64_t(scan.delay) + std::uint64_t(scan.padding))
        return 0;
    return raw - std::uint64_t(scan.delay) - std::uint64_t(scan.padding);
}

// Why the song's frames are not kept though each one could be; empty when they are.
QString streamWhyNot(const Mp3Scan& scan) {
    if (!scan.whyNot.isEmpty())
        return scan.whyNot;
    if (scan.delay >= 0 && scan.taggedFrames != scan.frames.size())
        return QStringLiteral("the song's gapless tag counts %1 frames where it holds %2 (a cut "
                              "or joined file)")
            .arg(scan.taggedFrames)
            .arg(scan.frames.size());
    return {};
}

struct Plan {
    std::size_t first = 0; // kept frames [first, last]
    std::size_t last = 0;
    std::size_t decoded = 0; // frames [first, decoded) are kept for their bytes alone
    int delay = 0;           // the clip's encoder delay
};

Result<Plan> plan(const QString& song, const Mp3Scan& scan, std::uint64_t in, std::uint64_t out) {
    const std::uint64_t length = decodeLength(scan);
    if (length > 0 && out > length)
        return cannotKeep(song, QStringLiteral("the clip ends after the song's last sample"));
    const std::uint64_t perFrame = std::uint64_t(scan.samplesPerFrame);
    const std::uint64_t rawIn = in + firstPlayed(scan);
    const std::uint64_t rawOut = out + firstPlayed(scan);
    Plan p;
    p.last = std::size_t((rawOut - 1) / perFrame);
    if (p.last >= scan.frames.size())
        return cannotKeep(song, QStringLiteral("the clip ends after the song's last frame"));
    // The granule whose transform must be right, and its frame; at the song's start, the first.
    const std::uint64_t slot = rawIn / 32;
    const std::uint64_t slotsPerGranule = kGranule / 32;
    const std::uint64_t lead = kSynthesisSlots + slotsPerGranule;
    std::size_t frame = 0;
    if (slot >= lead)
        frame = std::size_t(((slot - kSynthesisSlots) / slotsPerGranule - 1) * kGranule / perFrame);
    p.decoded = frame;
    // Back through the data areas before it to its first main data byte.
    std::size_t reach = scan.frames[frame].mainDataBegin;
    while (reach > 0 && frame > 0) {
        --frame;
        const ScannedFrame& f = scan.frames[frame];
        const std::size_t area = f.size - f.dataOffset;
        reach = reach > area ? reach - area : 0;
    }
    if (rawIn < kDecoderDelay + std::uint64_t(frame) * perFrame)
        return cannotKeep(song, QStringLiteral("the song has no gapless tag, and a clip that keeps "
                                               "its frames cannot start in its first %1 samples")
                                    .arg(kDecoderDelay));
    if (rawIn - kDecoderDelay - std::uint64_t(frame) * perFrame > std::uint64_t(kMostDelay))
        return cannotKeep(song, QStringLiteral("the song's bit reservoir reaches back further "
                                               "than an MP3's gapless delay can skip"));
    // Mono: back to a frame in step with the song's synthesis, where the delay allows.
    p.first = frame;
    const std::size_t period = scan.channels == 2 ? 1 : perFrame == 1152 ? 2 : 4;
    const std::size_t songSkips = scan.frames.front().mainDataBegin > 0 ? 1 : 0;
    const std::size_t aligned = frame >= songSkips ? frame - (frame - songSkips) % period : frame;
    if (rawIn - kDecoderDelay - std::uint64_t(aligned) * perFrame <= std::uint64_t(kMostDelay))
        p.first = aligned;
    p.delay = int(rawIn - std::uint64_t(p.first) * perFrame - kDecoderDelay);
    return p;
}

// The frames before the first decoded one decode to silence in the clip: their own main data
// reaches back before the clip, and a decoder would make of them what it can, or fail on them
// (FFmpeg then drops the frame, libmpg123 skips its synthesis), which would move the clip's
// samples. Each keeps in the reservoir all the clip holds before it (up to the field's most),
// and its main data area stays, for the frames after it.
bool silencePreroll(const Mp3Scan& scan, const Plan& p, QByteArray& block) {
    const std::uint64_t from = scan.frames[p.first].offset;
    auto* bytes = reinterpret_cast<unsigned char*>(block.data());
    std::size_t held = 0; // main data bytes of the clip before frame i
    for (std::size_t i = p.first; i < p.decoded; ++i) {
        const ScannedFrame& f = scan.frames[i];
        unsigned char* frame = bytes + (f.offset - from);
        const auto h = mp3::readFrameHeader(frame);
        if (!h || h->size != f.size)
            return false;
        mp3::silenceFrame(*h, frame, int(std::min<std::size_t>(held, h->mpeg1 ? 511 : 255)));
        held += f.size - f.dataOffset;
    }
    return true;
}

Error writeFailed(const Status& s) {
    return s.error().during(CopyStep::Write);
}

} // namespace

Result<SongStream> probeMp3(const QString& song) {
    const Result<Mp3Scan> scanned = scanMp3(song, {});
    if (!scanned)
        return scanned.error();
    const Mp3Scan& scan = *scanned;
    SongStream s;
    s.sampleRate = scan.sampleRate;
    s.channels = scan.channels;
    s.whyNot = streamWhyNot(scan);
    if (scan.frames.empty())
        return s;
    const std::uint64_t raw = scan.frames.size() * std::uint64_t(scan.samplesPerFrame);
    s.kbps = scan.constantRate
                 ? scan.frames.front().kbps * 2
                 : int((scan.audioBytes * 8 * std::uint64_t(scan.sampleRate) + raw * 500) /
                       (raw * 1000));
    s.frames = decodeLength(scan);
    return s;
}

Status copyMp3(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work) {
    const Result<Mp3Scan> scanned = scanMp3(song, work);
    if (!scanned)
        return scanned.error();
    const Mp3Scan& scan = *scanned;
    if (const QString why = streamWhyNot(scan); !why.isEmpty())
        return cannotKeep(song, why);
    const Result<Plan> planned = plan(song, scan, in, out);
    if (!planned)
        return planned.error();
    const Plan& p = *planned;

    QFile file(song);
    if (!file.open(QIODevice::ReadOnly))
        return Error(song, file.errorString()).during(CopyStep::Read);
    const std::uint64_t from = scan.frames[p.first].offset;
    const std::uint64_t to = scan.frames[p.last].offset + scan.frames[p.last].size;
    unsigned char header[4];
    if (!file.seek(qint64(from)) || file.read(reinterpret_cast<char*>(header), 4) != 4)
        return Error(song, file.errorString()).during(CopyStep::Read);
    std::array<char, 9> encoder{'L', 'A', 'M', 'E', '3', '.', '1', '0', '0'};
    if (std::equal(encoder.begin(), encoder.begin() + 4, scan.encoder.begin()))
        encoder = scan.encoder;
    std::vector<unsigned char> tag = mp3::newLameTag(header, scan.constantRate, p.delay, encoder);
    if (tag.empty() || to - from + tag.size() > std::numeric_limits<std::uint32_t>::max())
        return cannotKeep(song, QStringLiteral("the clip's gapless tag cannot be made"));

    // The tag frame's place first; its counts and checksums follow the frames.
    if (Status s = target.write(reinterpret_cast<const char*>(tag.data()), qint64(tag.size())); !s)
        return writeFailed(s);
    if (!file.seek(qint64(from)))
        return Error(song, file.errorString()).during(CopyStep::Read);
    std::uint16_t crc = 0;
    QByteArray block;
    // The first block holds every frame kept for its bytes alone.
    const qint64 firstBlock =
        std::max<qint64>(kBlock, qint64(scan.frames[p.decoded].offset - from));
    for (std::uint64_t at = from; at < to;) {
        if (work.stopped())
            return Error(target.target(), QStringLiteral("cancelled")).during(CopyStep::Cancel);
        const qint64 want = std::min<qint64>(at == from ? firstBlock : kBlock, qint64(to - at));
        block = file.read(want);
        if (block.size() != want)
            return Error(song, file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QStringLiteral("the file is shorter than it was"))
                .during(CopyStep::Read);
        if (at == from && !silencePreroll(scan, p, block))
            return Error(song, QStringLiteral("the file changed while it was read"))
                .during(CopyStep::Read);
        crc = mp3::crc16(reinterpret_cast<const unsigned char*>(block.constData()),
                         std::size_t(block.size()), crc);
        if (Status s = target.write(block.constData(), block.size()); !s)
            return writeFailed(s);
        at += std::uint64_t(block.size());
        work.report(at - from, to - from);
    }

    mp3::StreamFacts facts;
    facts.audioFrames = std::uint32_t(p.last - p.first + 1);
    facts.totalBytes = std::uint32_t(tag.size() + (to - from));
    facts.frameOffsets.reserve(facts.audioFrames);
    for (std::size_t i = p.first; i <= p.last; ++i)
        facts.frameOffsets.push_back(tag.size() + (scan.frames[i].offset - from));
    facts.sampleFrames = out - in;
    facts.samplesPerFrame = scan.samplesPerFrame;
    facts.musicCrc = crc;
    if (!mp3::rewriteLameTag(tag, facts))
        return cannotKeep(song, QStringLiteral("the clip's padding does not fit its gapless tag"));
    QFileDevice& written = target.file();
    const qint64 end = written.pos();
    if (!written.seek(0))
        return Error(target.target(), written.errorString()).during(CopyStep::Write);
    if (Status s = target.write(reinterpret_cast<const char*>(tag.data()), qint64(tag.size())); !s)
        return writeFailed(s);
    if (!written.seek(end))
        return Error(target.target(), written.errorString()).during(CopyStep::Write);
    return {};
}

} // namespace quaverly::framecopy::internal
