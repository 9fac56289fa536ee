#pragma once
// The questions the window's encoded saves share, in the order they are asked: whether a clip
// fits the preset's length (else the user may go and shorten it), the file to write (the chosen
// format offered first; the name's extension decides), whether the format's setting can be
// written there, and the clip's title.
//
// Threads: UI thread only.

#include "engines/encoder/Presets.h"
#include "engines/encoder/SongEncode.h"
#include "ui/Dialogs.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace quaverly {

// When a clip of `frames` at `sampleRate` is longer than `preset` allows: tells the limit and
// asks whether to open the song in the clip editor with the marks on its first seconds, and gives
// the answer. nullopt when the clip fits (nothing asked). Either way a clip too long is not saved.
std::optional<bool> askToShorten(Dialogs& dialogs, const encode::Preset& preset,
                                 std::int64_t frames, int sampleRate);

struct EncodedTarget {
    QString path;
    encode::Format format;
};
// Asks for the file to write under `title`, the dialog opening at `start` (a folder, or a file's
// path to offer its name) with `chosen` offered first. The format is the one the name's extension
// names, else `chosen`. `kind`: the folder it opens in once one was picked (RememberedFolders.h).
// nullopt when cancelled.
std::optional<EncodedTarget> askEncodedTarget(Dialogs& dialogs, const QString& title,
                                              const QString& start, encode::Format chosen,
                                              Dialogs::FileKind kind = Dialogs::FileKind::Saves);

// Tells the user, naming the target, when `settings` cannot be written there (a format this
// build cannot write, a value the codec refuses); false then, and nothing is to be written.
bool settingsUsable(Dialogs& dialogs, const encode::Settings& settings, const QString& target);

// The "Title" box, prefilled with `title`; nullopt when cancelled.
std::optional<QString> askClipTitle(Dialogs& dialogs, const QString& title);

} // namespace quaverly
