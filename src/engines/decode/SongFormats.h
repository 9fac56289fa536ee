#pragma once
// The kinds of file the song reader reads, by the names their files usually have: the one table
// from which the file dialogs' filter, the song list's drop hint and the command line's help
// take their lists, so that they cannot disagree. The reader itself finds a file's kind from its
// content, never from its name: these names only help people find their songs.
//
// Threads: any (constant data).

#include <QString>
#include <QStringList>

#include <span>

namespace quaverly {

struct SongFileKind {
    const char* name;     // for people, "Ogg Vorbis"; translated in the context "SongFormats"
    const char* patterns; // the usual names, "*.ogg *.oga"
};

// Every kind, in the order the lists show them.
std::span<const SongFileKind> songFileKinds();

// A kind's name, translated.
QString songKindName(const SongFileKind& kind);
// A kind's patterns, "*.ogg", "*.oga".
QStringList songKindPatterns(const SongFileKind& kind);
// Every kind's patterns, each once, in the table's order.
QStringList songFilePatterns();
// Every kind's name, in the table's order, joined by ", "; with a `lineWidth`, broken into
// lines of at most that many characters between the names.
QString songKindNames(qsizetype lineWidth = 0);

} // namespace quaverly
