#pragma once
// Keeps the song list's marks up to date: the song the list player plays and the song the clip
// editor shows (AudioEditPanel::kPlayingRole, kEditedRole), what a screen reader says of each
// row, and the edited song's length after a cut or an undo (read from its working copy's
// header, never by decoding it). Neither player tells when it opens a song, so the marks follow
// them on a short timer and at once when asked (refresh()).
//
// Threads: UI thread only.

#include <QObject>
#include <QString>
#include <QTimer>

class QListWidgetItem;

namespace quaverly {

class AudioEditPanel;
class WavPlayer;

class SongRowMarks final : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 200;

    SongRowMarks(AudioEditPanel& panel, const WavPlayer& listPlayer, const WavPlayer& editPlayer,
                 QObject* parent = nullptr);

    void refresh();

private:
    // The working copy the clip editor shows: the one its player holds, and after "Done" (which
    // lets go of it) the last it held, for as long as the editor's frame is shown.
    QString editedCopy();
    void updateEditedLength(QListWidgetItem& item);

    AudioEditPanel& panel_;
    const WavPlayer& listPlayer_;
    const WavPlayer& editPlayer_;
    QTimer timer_;
    QString edited_;
    qint64 editedSize_ = -1; // the edited copy's file size when its length was last read
};

// What a screen reader says of a song's row: "Song, 3:25, MP3, playing".
QString songRowSpoken(const QListWidgetItem& item);

} // namespace quaverly
