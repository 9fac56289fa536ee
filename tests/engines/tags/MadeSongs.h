#pragma once
// Song files of any format made at run time by ffmpeg from a staircase WAV made in code, with
// the tags the test asks for. Tests skip when ffmpeg is missing.

#include "support/Peers.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QString>
#include <QStringList>

namespace made_songs {

inline bool haveFfmpeg() {
    return quaverly::test::havePeer(QStringLiteral("ffmpeg"));
}

// ffmpeg's -metadata options for a title and an artist; none for empty ones.
inline QStringList tagOptions(const QString& title, const QString& artist) {
    QStringList options;
    if (!title.isEmpty())
        options << QStringLiteral("-metadata") << QStringLiteral("title=") + title;
    if (!artist.isEmpty())
        options << QStringLiteral("-metadata") << QStringLiteral("artist=") + artist;
    return options;
}

constexpr std::size_t kSourceFrames = 4410; // 0.1 s

// Encodes a stereo 44.1 kHz staircase of kSourceFrames into dir/name with ffmpeg and the given
// options (codec, muxer, metadata). Returns ffmpeg's complaint, empty on success.
inline QString makeSong(const QDir& dir, const QString& name, const QStringList& options) {
    const QString source = dir.filePath(QStringLiteral("staircase-source.wav"));
    if (!QFile::exists(source) &&
        !quaverly::test::writeWav16(source, 2, 44100, quaverly::test::staircase(kSourceFrames, 2)))
        return QStringLiteral("cannot write ") + source;
    const auto r = quaverly::test::runPeer(
        QStringLiteral("ffmpeg"),
        QStringList{"-nostdin", "-v", "error", "-y", "-i", source} + options << dir.filePath(name));
    return r.ok() ? QString() : r.failure() + QStringLiteral(" on ") + name;
}

} // namespace made_songs
