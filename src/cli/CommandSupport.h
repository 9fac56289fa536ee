#pragma once
// What the commands of quaverly-cli share: where their words go, decoding through the window's
// components, how an encoder's and a sound device's failures read. The progress line is
// ProgressLine.h's, the work off the command's thread Job.h's.
// What a command writes, and the encoding, is Target.h's.
// Each command lives in its own file; Cli.cpp reads the command line and calls them.

#include "cli/Cli.h"
#include "engines/encoder/Mp3Encode.h"
#include "engines/util/Error.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace quaverly::cli {

struct Io {
    std::FILE* out;
    std::FILE* err;
    bool progress; // standard error is a terminal and --quiet was not given: show long work
    bool outIsTerminal = false; // standard output is a terminal: a table for people to read
};

// A command's options as given on its line: name (without dashes) -> value; the last one given
// counts.
using Options = QMap<QString, QString>;

// Writes `text` and a line end.
void say(std::FILE* f, const QString& text);

// Every line of help and of a table fits a terminal of this many columns.
constexpr qsizetype kColumns = 80;
// `line` broken at its spaces into lines of at most kColumns, the later ones indented by
// `indent`; a bracketed part of a usage ("[--bitrate N | --quality Q]") is never broken. A word
// longer than a line stays whole.
QString wrapLine(const QString& line, qsizetype indent);

// "quaverly-cli: text" on standard error, in place of a progress line shown; returns kFailed.
int failed(const Io& io, const QString& text);

bool isWavTarget(const QString& path);

// Refuses, before anything is read or written, an OUT that is a folder or the same file as one
// of `sources` (by any spelling or link): says why, naming both, and returns false.
bool targetAllowed(const QString& out, const QStringList& sources, const Io& io);

// The line for a failure met while writing `out`: one that names `out` reads "cannot write OUT:
// cause"; any other is told as it is.
QString writeFailure(const QString& out, const Error& error);

// The song reader's refusal of the file it names: "IN: cause", in the reading library's words
// (a damaged FLAC, M4A, ... is told as libsndfile or FFmpeg tell it), or for a file of no kind
// that is read "holds no audio that Quaverly reads".
QString readFailure(const Error& refusal);

// Decodes any file the song reader reads into the WAV file `wav`, as adding a song does (16-bit,
// more than two channels mixed down to stereo). Says
// why it failed: the reader's refusal as readFailure() puts it, a failed write as "cannot write
// WAV: cause", any other failure as "IN: cause", with "(error code N)" where the song's decode
// has a code (it stopped short of the song's end); kCancelled, unsaid, after a Ctrl+C.
int decodeTo(const QString& in, const QString& wav, const Io& io);

// The encoder's failure (its Error, with the EncodeStep it carries) as a line: a failed write as
// every command says it, "cannot write OUT: cause"; the rest in the encoder's words, as the
// window has them too ("Cannot read \"IN\": cause", "Cannot encode \"FILE\": cause", ...); a
// song of a join as its Error reads, "SONG: cause".
QString encodeFailure(const Error& failure);

// A sound device's failure, for a message: "cause (error code N)".
QString soundError(const Error& error);
// `text` with " (error code N)" where the number tells more than the words
// (sound::codeTellsMore).
QString withCode(const QString& text, int code);

// The commands, one file each. `args` are the command's positional arguments, already counted
// against its usage.
int convertCommand(const QStringList& args, const Options& opts, const Io& io);
int joinCommand(const QStringList& args, const Options& opts, const Io& io);
int cutCommand(const QStringList& args, const Options& opts, const Io& io);
int infoCommand(const QStringList& args, const Options& opts, const Io& io);
int inputsCommand(const QStringList& args, const Options& opts, const Io& io);
int recordCommand(const QStringList& args, const Options& opts, const Io& io);
int presetsCommand(const QStringList& args, const Options& opts, const Io& io);

} // namespace quaverly::cli
