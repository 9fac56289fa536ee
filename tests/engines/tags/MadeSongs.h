#pragma once
// Song files of any format made at run time by ffmpeg from a staircase WAV made in code, with
// the tags the test asks for. Tests skip when ffmpeg is missing.

#include "support/TestAudio.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace made_songs {

inline bool haveFfmpeg() {
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
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
    QProcess ffmpeg;
    const QStringList args = QStringList{"-nostdin", "-v", "error", "-y", "-i", source} + options;
    ffmpeg.start(QStringLiteral("ffmpeg"), args + QStringList{dir.filePath(name)});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0) {
        ffmpeg.kill();
        ffmpeg.waitForFinished();
        return QStringLiteral("ffmpeg failed on ") + name + QStringLiteral(": ") +
               QString::fromLocal8Bit(ffmpeg.readAllStandardError());
    }
    return {};
}

} // namespace made_songs
