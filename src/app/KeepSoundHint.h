#pragma once
// The words under the output frame (lblKeepSound): whether the clip in hand (the song open in
// the clip editor, else the one song of a list of one) keeps its song's own sound when saved in
// the chosen format, or why it is re-encoded; nothing when the format's codec is not the song's.
// Whether the song's frames can be kept is read from the song (engines/encoder/FrameCopy.h
// canKeep) off the window thread, once per song and output choice; the words follow when the
// answer arrives.
//
// Threads: UI thread only; the reading runs on Qt's global thread pool.

#include "ui/KeptSave.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace quaverly {

class ElidedLabel;
class OutputChoice;

class KeepSoundHint final : public QObject {
    Q_OBJECT
public:
    struct Clip {
        SongOrigin origin;
        QString formatWord; // as the song's row shows it
        bool effects = false;
    };
    KeepSoundHint(ElidedLabel& label, std::function<std::optional<Clip>()> clipInHand,
                  std::function<OutputChoice()> output, QObject* parent = nullptr);

    // Shows the words for the clip in hand and the output choice as they are now.
    void refresh();

private:
    void show(const QString& words);

    ElidedLabel& label_;
    std::function<std::optional<Clip>()> clipInHand_;
    std::function<OutputChoice()> output_;
    QHash<QString, QString> answers_; // what canKeep said (the empty text: kept), by question
    QSet<QString> asked_;             // questions whose answer has not arrived
};

} // namespace quaverly
