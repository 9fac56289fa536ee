#pragma once
// Keeps the song list's marks up to date: the song the list player plays and the song the clip
// editor shows (AudioEditPanel::kPlayingRole, kEditedRole), what a screen reader says of each
// row, and the edited song's length after a cut or an undo (read from its working copy's
// header, never by decoding it). The marks are brought up to date when what they show changes:
// a player opens, starts, pauses, stops, ends or closes a song (the editor opens its song again
// after a cut or an undo), the list's rows or their words change, and when asked (refresh(): the
// editor's frame has gone). Nothing runs while none of that happens.
//
// Threads: UI thread only.

#include <QObject>
#include <QString>

class QListWidgetItem;

namespace quaverly {

class AudioEditPanel;
class WavPlayer;

class SongRowMarks final : public QObject {
    Q_OBJECT
public:
    SongRowMarks(AudioEditPanel& panel, const WavPlayer& listPlayer, const WavPlayer& editPlayer,
                 QObject* parent = nullptr);

    void refresh();

private:
    // The working copy the clip editor shows: the one its player holds, and after "Done" (which
    // lets go of it) the last it held, for as long as the editor's frame is shown.
    QString editedCopy();
    void updateEditedLength(QListWidgetItem& item);
    void follow(const WavPlayer& player);
    // Refreshes once the event loop has had its turn: a burst of changes (songs being listed,
    // each row's data set one role at a time) walks the rows once.
    void refreshSoon();
    Q_INVOKABLE void refreshNow();

    AudioEditPanel& panel_;
    const WavPlayer& listPlayer_;
    const WavPlayer& editPlayer_;
    bool refreshing_ = false; // refresh() is setting the marks: their own changes are not news
    bool queued_ = false;     // a refreshNow() is queued
    QString edited_;
    qint64 editedSize_ = -1; // the edited copy's file size when its length was last read
};

// What a screen reader says of a song's row: "Song, 3:25, MP3, playing".
QString songRowSpoken(const QListWidgetItem& item);

} // namespace quaverly
