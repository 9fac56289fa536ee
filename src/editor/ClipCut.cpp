#include "editor/ClipCut.h"

#include "engines/player/MciErrors.h"
#include "engines/player/WavCut.h"
#include "engines/util/FrameTime.h"

#include <algorithm>

namespace quaverly {
namespace {

// A sound of `frames` frames being cut, as a wave device keeps it: its length in whole
// milliseconds, and the frame a position of it stands for.
struct Sound {
    std::uint32_t rate;
    std::uint64_t frames;

    qint64 lengthMs() const { return qint64(frametime::framesToMs(frames, rate)); }
    std::uint64_t frameAt(qint64 ms) const {
        if (ms >= lengthMs())
            return frames;
        return std::min(frametime::msToFrames(std::uint64_t(ms), rate).value_or(frames), frames);
    }
    // Why the stretch from `from` to `to` (ms) cannot be removed, or nothing.
    std::optional<Error> refuse(qint64 from, qint64 to) const {
        if (from > to)
            return Error({}, QStringLiteral("from %1 is after to %2").arg(from).arg(to),
                         mcierr::kOutOfRange);
        if (to > lengthMs())
            return Error({},
                         QStringLiteral("%1 ms is past the end (%2 ms)").arg(to).arg(lengthMs()),
                         mcierr::kOutOfRange);
        return std::nullopt;
    }
};

CutOutcome failed(CutFailure failure) {
    return {CutOutcome::Failed, std::move(failure)};
}

} // namespace

QString failureText(const CutFailure& f) {
    const int code = f.error.code();
    QString words = code ? mcierr::reason(f.error) : f.error.text();
    if (!f.step.isEmpty())
        words += QStringLiteral(" while ") + f.step;
    if (code)
        words += QStringLiteral(" (error %1)").arg(code);
    return words;
}

MarkedFrames markedFrames(std::uint32_t rate, std::uint64_t frames, qint64 markIn, qint64 markOut) {
    MarkedFrames r;
    // The head: from 0 to In. A sound shorter than half a millisecond is 0 ms long, and so is
    // every position in it: nothing goes.
    const Sound song{rate, frames};
    if (auto refused = song.refuse(0, markIn)) {
        r.failure = CutFailure{*refused, QStringLiteral("removing the head")};
        return r;
    }
    r.first = song.frameAt(markIn) - song.frameAt(0);
    // The tail: from Out - In to the end of what is left. Its end is that sound's own length,
    // not the song's length less In: both are rounded to whole milliseconds, and the difference
    // could miss the end by a millisecond either way.
    const Sound rest{rate, frames - r.first};
    const qint64 tailEnd = qint64(frametime::framesToMs(frames - song.frameAt(markIn), rate));
    if (auto refused = rest.refuse(markOut - markIn, tailEnd)) {
        r.failure = CutFailure{*refused, QStringLiteral("removing the tail")};
        return r;
    }
    r.end = r.first + rest.frameAt(markOut - markIn);
    return r;
}

CutOutcome cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                   const WorkProgress& progress) {
    if (markIn >= markOut)
        return {CutOutcome::TimeInputError, std::nullopt};
    const auto layout = probeCutSource(source);
    if (!layout)
        return failed({layout.error(), QStringLiteral("opening the song")});
    const auto kept =
        markedFrames(layout->sampleRate, layout->dataSize / layout->blockAlign, markIn, markOut);
    if (kept.failure)
        return failed(*kept.failure);
    if (const Status saved = cutWav(source, target, kept.first, kept.end, progress); !saved)
        return failed({saved.error(), QStringLiteral("saving the clip")});
    return {CutOutcome::Cut, std::nullopt};
}

} // namespace quaverly
