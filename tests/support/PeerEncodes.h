#pragma once
// Songs in the formats a music library holds, made at run time by the usual tools from a WAV
// file the test built, for the tests of the ways a song enters (the list, the command line).

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace quaverly::test {

// One tool's command line; "IN" and "OUT" stand for the source WAV and the file made.
struct PeerEncode {
    const char* extension;
    const char* program;
    QStringList args;
};

inline const PeerEncode kAacM4a{
    "m4a", "ffmpeg", {"-v", "error", "-y", "-i", "IN", "-c:a", "aac", "-b:a", "128k", "OUT"}};
inline const PeerEncode kFlac{"flac", "flac", {"-s", "-f", "-o", "OUT", "IN"}};
inline const PeerEncode kOpus{"opus", "opusenc", {"--quiet", "IN", "OUT"}};

// Makes `out` from `wav` with the peer; the empty text on success, else why not (the tool is
// missing, failed or did not end within a minute), for a skip or a failure.
inline QString encodeWithPeer(const PeerEncode& peer, const QString& wav, const QString& out) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(peer.program));
    if (program.isEmpty())
        return QStringLiteral("%1 is not installed").arg(QLatin1String(peer.program));
    QStringList args = peer.args;
    args.replaceInStrings(QRegularExpression(QStringLiteral("^IN$")), wav);
    args.replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), out);
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 failed: %2")
            .arg(QLatin1String(peer.program), QString::fromLocal8Bit(p.readAllStandardError()));
    return QString();
}

} // namespace quaverly::test
