#pragma once
// Songs in the formats a music library holds, made at run time by the usual tools from a WAV
// file the test built, for the tests of the ways a song enters (the list, the command line).

#include "support/Peers.h"

#include <QRegularExpression>
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
    const QString program = QString::fromLatin1(peer.program);
    if (!havePeer(program))
        return program + QStringLiteral(" is not installed");
    QStringList args = peer.args;
    args.replaceInStrings(QRegularExpression(QStringLiteral("^IN$")), wav);
    args.replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), out);
    return runPeer(program, args).failure();
}

} // namespace quaverly::test
