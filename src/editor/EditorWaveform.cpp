// The clip editor's waveform: the view shows the song open for editing and stays in step with
// the marks (the window's MarkIn/MarkOut, the only truth) and the play position.
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/PeakCache.h"
#include "editor/WaveformView.h"

namespace quaverly {

void EditorHandlers::attachWaveform(WaveformView* view) {
    frame_.setWaveformView(view);
    connect(this, &EditorHandlers::songOpened, view, &WaveformView::setSource);
    connect(this, &EditorHandlers::songClosed, view, &WaveformView::clear);
    connect(this, &EditorHandlers::marksChanged, view, &WaveformView::setMarks);
    connect(this, &EditorHandlers::positionChanged, view, &WaveformView::setPlayPosition);
    // A cut or an undo has replaced the song: its peaks are read again. While the song is being
    // replaced or deleted, the cache has closed it and leaves it alone (letGo() is called
    // directly, and returns once the file is closed).
    connect(this, &EditorHandlers::songChanged, &view->peakCache(), &PeakCache::invalidate);
    connect(this, &EditorHandlers::releaseRequested, &view->peakCache(),
            [cache = &view->peakCache()](const QString& path) { cache->letGo(path); });
    connect(this, &EditorHandlers::releaseEnded, &view->peakCache(), &PeakCache::resume);
    // The handles and a click act as the mark buttons and the slider do; the marks come back to
    // the view through marksChanged.
    connect(view, &WaveformView::markInMoved, this, &EditorHandlers::setMarkIn);
    connect(view, &WaveformView::markOutMoved, this, &EditorHandlers::setMarkOut);
    connect(view, &WaveformView::seekRequested, this, &EditorHandlers::seek);
    if (editing_) {
        view->setSource(song_);
        view->setMarks(*s_.MarkIn, *s_.MarkOut);
    }
}

} // namespace quaverly
