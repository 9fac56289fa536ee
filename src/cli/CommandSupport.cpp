#include "cli/CommandSupport.h"

#include "cli/Console.h"
#include "cli/Job.h"
#include "engines/decode/SongDecode.h"
#include "engines/formats/Formats.h"
#include "engines/util/SameFile.h"

#include <QFileInfo>

namespace quaverly::cli {

void say(std::FILE* f, const QString& text) {
    std::fputs(consoleBytes(text).constData(), f);
    std::fputc('\n', f);
}

QString wrapLine(const QString& line, qsizetype indent) {
    if (line.size() <= kColumns)
        return line;
    QStringList words;
    int depth = 0;
    qsizetype start = 0;
    while (start < line.size() && line[start] == u' ')
        ++start; // the line's own indent stays with its first word
    qsizetype wordStart = start;
    for (qsizetype i = start; i <= line.size(); ++i) {
        const QChar c = i < line.size() ? line[i] : QChar(u' ');
        depth += c == u'[' ? 1 : c == u']' ? -1 : 0;
        if (c == u' ' && depth <= 0) {
            if (i > wordStart && line[i - 1] != u' ')
                words << line.mid(wordStart, i - wordStart);
            wordStart = i + 1;
        }
    }
    const QString margin(indent, u' ');
    QString out = line.left(start);
    qsizetype used = start;
    bool first = true;
    for (const QString& word : words) {
        if (!first && used + 1 + word.size() > kColumns) {
            out += u'\n' + margin;
            used = indent;
        } else if (!first) {
            out += u' ';
            ++used;
        }
        out += word;
        used += word.size();
        first = false;
    }
    return out;
}

int failed(const Io& io, const QString& text) {
    if (io.progress) // a progress line may be shown: the failure takes its place
        std::fputs("\r\033[K", io.err);
    say(io.err, QStringLiteral("quaverly-cli: ") + text);
    return kFailed;
}

bool isWavTarget(const QString& path) {
    return formats::isWav(path);
}

bool targetAllowed(const QString& out, const QStringList& sources, const Io& io) {
    if (QFileInfo(out).isDir()) {
        failed(io, QStringLiteral("cannot write %1: it is a folder").arg(out));
        return false;
    }
    for (const QString& in : sources) {
        if (sameFile(in, out)) {
            failed(io, QStringLiteral("cannot write %1: it is the same file as the input %2")
                           .arg(out, in));
            return false;
        }
    }
    return true;
}

QString readFailure(const Error& refusal) {
    // The reader's words are true to the content: a file of no kind that is read "holds no audio
    // that Quaverly reads", whatever its name.
    return refusal.text();
}

QString writeFailure(const QString& out, const Error& error) {
    return error.file() == out ? QStringLiteral("cannot write ") + error.text() : error.text();
}

int decodeTo(const QString& in, const QString& wav, const Io& io) {
    auto song = SongReader::open(in);
    if (!song)
        return failed(io, readFailure(song.error()));
    const auto decoded =
        runJob(io, QStringLiteral("decoding ") + QFileInfo(in).fileName(),
               [&](std::stop_token stop, Meter& meter) {
                   return decodeSong(
                       *song, wav, {std::move(stop), [&](std::uint64_t done, std::uint64_t total) {
                                        meter.set(done, total);
                                    }});
               });
    if (decoded)
        return kOk;
    if (interrupted())
        return kCancelled;
    const Error& e = decoded.error();
    if (e.file() == wav)
        return failed(io, QStringLiteral("cannot write %1: %2").arg(wav, e.cause()));
    return failed(io, withCode(e.text(), e.code()));
}

QString encodeFailure(const Error& e) {
    switch (mp3::encodeStep(e)) {
    case mp3::EncodeStep::Write:
        return QStringLiteral("cannot write %1: %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::ReadWav:
        return QStringLiteral("Cannot read \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Source:
        return e.text();
    case mp3::EncodeStep::Encode:
        return e.file().isEmpty()
                   ? QStringLiteral("Cannot encode: %1").arg(e.cause())
                   : QStringLiteral("Cannot encode \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Resample:
        return QStringLiteral("Cannot resample \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Cancel:
        return QStringLiteral("Encoding \"%1\" was cancelled").arg(e.file());
    }
    return e.text();
}

QString soundError(const Error& error) {
    return withCode(error.cause(), error.code());
}

QString withCode(const QString& text, int code) {
    return sound::codeTellsMore(code) ? QStringLiteral("%1 (error code %2)").arg(text).arg(code)
                                      : text;
}

} // namespace quaverly::cli
