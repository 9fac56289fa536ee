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
    // Whether the stretch from `from` to `to` (ms) can be removed, or why not.
    Status removable(qint64 from, qint64 to) const {
        if (from > to)
            return Error({}, QStringLiteral("from %1 is after to %2").arg(from).arg(to),
                         mcierr::kOutOfRange);
        if (to > lengthMs())
            return Error({},
                         QStringLiteral("%1 ms is past the end (%2 ms)").arg(to).arg(lengthMs()),
                         mcierr::kOutOfRange);
        return {};
    }
};

} // namespace

Status marksInOrder(qint64 markIn, qint64 markOut) {
    if (markIn < markOut)
        return {};
    return Error({}, QStringLiteral("Out must be after In")).during(CutStep::MarksOutOfOrder);
}

QString failureText(const Error& failure) {
    const int code = failure.code();
    QString words = code ? mcierr::reason(failure) : failure.text();
    if (!failure.stepWords().isEmpty())
        words += QStringLiteral(" while ") + failure.stepWords();
    if (code)
        words += QStringLiteral(" (error %1)").arg(code);
    return words;
}

Result<MarkedFrames> markedFrames(std::uint32_t rate, std::uint64_t frames, qint64 markIn,
                                  qint64 markOut) {
    MarkedFrames r;
    // The head: from 0 to In. A sound shorter than half a millisecond is 0 ms long, and so is
    // every position in it: nothing goes.
    const Sound song{rate, frames};
    if (const Status head = song.removable(0, markIn); !head)
        return head.error().during(CutStep::RemovingHead, QStringLiteral("removing the head"));
    r.first = song.frameAt(markIn) - song.frameAt(0);
    // The tail: from Out - In to the end of what is left. Its end is that sound's own length,
    // not the song's length less In: both are rounded to whole milliseconds, and the difference
    // could miss the end by a millisecond either way.
    const Sound rest{rate, frames - r.first};
    const qint64 tailEnd = qint64(frametime::framesToMs(frames - song.frameAt(markIn), rate));
    if (const Status tail = rest.removable(markOut - markIn, tailEnd); !tail)
        return tail.error().during(CutStep::RemovingTail, QStringLiteral("removing the tail"));
    r.end = r.first + rest.frameAt(markOut - markIn);
    return r;
}

Status cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
               const WorkProgress& progress) {
    if (Status ordered = marksInOrder(markIn, markOut); !ordered)
        return ordered;
    const auto layout = probeCutSource(source);
    if (!layout)
        return layout.error().during(CutStep::OpeningSong, QStringLiteral("opening the song"));
    const auto kept =
        markedFrames(layout->sampleRate, layout->dataSize / layout->blockAlign, markIn, markOut);
    if (!kept)
        return kept.error();
    if (const Status saved = cutWav(source, target, kept->first, kept->end, progress); !saved)
        return saved.error().during(CutStep::SavingClip, QStringLiteral("saving the clip"));
    return {};
}

} // namespace quaverly
