#pragma once
// The usual command-line tools (ffmpeg, ffprobe, mpg123, lame, sox, flac, oggenc, opusenc, ...)
// that tests check our files against or make their material with: the one way a test finds and
// runs one. Our own programs (quaverly-cli, the test executable) are started with QProcess.
//
// By default a tool runs here with QProcess. When QUAVERLY_PEER_BRIDGE names a folder (under
// wine its Unix path or its Windows name), it runs on the Linux side instead, through
// scripts/windows/peer-bridge.sh serving that folder: the suite built for Windows runs under
// wine, which finds no Linux tool and gets no true exit code from one. The files of one call in
// that folder, ID unique per call (process id, counter, random):
//   ID.req   from the test, written as ID.part and renamed, so that it is never read half
//            written: NUL-terminated UTF-8 fields: the time limit in seconds, the program, its
//            arguments. Windows paths among them ("C:\...", "Z:/...") go as their Unix paths.
//   ID.out, ID.err  from the bridge: the tool's standard output and error; then last, written as
//            ID.code.part and renamed,
//   ID.code  its exit status, "timeout" when its time limit ended it, or "nostart" when it could
//            not be started.
// The test removes the files of its call once it has read ID.code. The bridge marks the folder
// it serves with a file "serving" while it runs.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quaverly::test {

struct PeerOptions {
    int timeoutMs = 60000; // a deadline: the tool is ended when it runs longer
    // Unix without the bridge: a plain fork and exec, its output thrown away, for the tests that
    // run under ThreadSanitizer, which loses track of the process's locking once QProcess has
    // started a child.
    bool plainFork = false;
};

struct PeerRun {
    QString program;
    bool started = false;
    bool finished = false; // within the deadline
    int exitCode = -1;     // -1 when it did not end normally
    QByteArray out, err;

    bool ok() const { return started && finished && exitCode == 0; }
    // Why it did not end well ("... did not end within 60 s", "... ended with 1: <stderr>"); the
    // empty text when it did.
    QString failure() const;
};

// Whether the tool is there to run (on the bridge's side when there is one).
bool havePeer(const QString& program);

// Runs the tool to its end or its deadline.
PeerRun runPeer(const QString& program, const QStringList& args, const PeerOptions& options = {});

} // namespace quaverly::test
