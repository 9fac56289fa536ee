#include "cli/Target.h"

#include "cli/Console.h"
#include "cli/Job.h"
#include "engines/encoder/MeteredSource.h"
#include "engines/formats/Formats.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>

#include <algorithm>
#include <functional>

namespace quaverly::cli {

const char* const kTargetHelp =
    "OUT's extension chooses what is written; the options set it:\n"
    "  .wav           16-bit PCM WAV, no tags\n"
    "  .mp3           MP3; --bitrate 56, 96, 128, 192, 256 or 320 kbit/s (default 256)\n"
    "  .m4a, .m4r     AAC in an MP4 file (.m4r: an iPhone ringtone); --bitrate 16 to 320\n"
    "                 kbit/s (default 256)\n"
    "  .ogg, .oga     Ogg Vorbis; --quality 0 to 10 (default 6)\n"
    "  .opus          Opus; --bitrate 6 to 256 kbit/s (default 128)\n"
    "  .flac          FLAC; --level 0 (fastest) to 8 (smallest), the same sound at each\n"
    "                 (default 5)\n"
    "  --preset NAME  a preset of 'quaverly-cli presets', by id or name: its format (OUT must\n"
    "                 end in its extension), setting and tags; --bitrate, --quality or --level\n"
    "                 beside it overrides its setting; a clip longer than the preset takes is\n"
    "                 refused and nothing is written\n"
    "  --title TEXT   the title tag (default: the source song's title, else its file name;\n"
    "                 join: \"Song list\"; record: OUT's name)\n"
    "Every format but WAV is tagged with the title, the source's artist, album and cover\n"
    "picture, and what the preset adds; an MP3 only with --title or --preset (without them it is\n"
    "LAME's bytes alone).";

namespace {

using encode::Format;
using encode::Setting;
using formats::FileFormat;

constexpr int kDefaultMp3BitRate = 256;

struct ValueOption {
    const char* name;
    Setting setting;
};
constexpr ValueOption kValueOptions[] = {
    {"bitrate", Setting::BitRate}, {"quality", Setting::Quality}, {"level", Setting::Level}};

int usageError(const Io& io, const QString& text) {
    say(io.err, QStringLiteral("quaverly-cli: ") + text);
    return kUsage;
}

// "a, b and c" (or "a, b or c")
QString listed(const QStringList& items, const char* conjunction = "and") {
    if (items.size() < 2)
        return items.join(QString());
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') +
           QLatin1String(conjunction) + QLatin1Char(' ') + items.last();
}

// ".ogg", ".oga": the extensions a kind is written under.
QStringList extensionsOf(const FileFormat& kind) {
    QStringList all{QStringLiteral(".") + QLatin1String(kind.extension)};
    if (kind.alias)
        all << QStringLiteral(".") + QLatin1String(kind.alias);
    return all;
}

QString writtenExtensions() {
    QStringList all = extensionsOf(formats::wav());
    for (const FileFormat* f : formats::encoded())
        all << extensionsOf(*f);
    return listed(all, "or");
}

// "MP3, M4A (AAC), ... and Opus": the formats whose setting is `setting`.
QString formatsTaking(Setting setting) {
    QStringList names;
    for (const FileFormat* f : formats::encoded()) {
        if (f->setting == setting)
            names << QLatin1String(f->name);
    }
    return listed(names);
}

// An MP3 bit rate the command line takes: the ones the window offers (the old 56, 96, 128 and
// 256 among them).
bool offeredMp3BitRate(int kbps) {
    return std::ranges::find(formats::info(Format::Mp3).offered, kbps) !=
           formats::info(Format::Mp3).offered.end();
}

QString offeredMp3Text() {
    QStringList rates;
    for (const int r : formats::info(Format::Mp3).offered)
        rates << QString::number(r);
    return listed(rates, "or");
}

// Reads --bitrate, --quality or --level, whichever is given, into target->settings.value.
int readValueOptions(const Options& opts, const Io& io, Target* target) {
    for (const ValueOption& o : kValueOptions) {
        const QString name = QLatin1String(o.name);
        if (!opts.contains(name))
            continue;
        if (target->isWav() || formats::info(*target->format).setting != o.setting)
            return usageError(
                io, QStringLiteral("--%1 applies to %2 only").arg(name, formatsTaking(o.setting)));
        bool ok = false;
        const int value = opts[name].toInt(&ok);
        if (target->format == Format::Mp3 && (!ok || !offeredMp3BitRate(value)))
            return usageError(
                io, QStringLiteral("--bitrate must be %1 for an MP3").arg(offeredMp3Text()));
        // Every range starts at 0 or above, so a value that is no number gets the range's words.
        target->settings.value = ok ? value : -1;
        if (const Status s = encode::checkSettings(target->settings, target->path); !s)
            return usageError(
                io, QStringLiteral("--%1 %2: %3").arg(name, opts[name], s.error().cause()));
    }
    return kOk;
}

} // namespace

int readTarget(const QString& out, const Options& opts, const Io& io, Target* target) {
    target->path = out;
    target->format = formats::formatForPath(out);
    if (!target->format && !isWavTarget(out))
        return usageError(
            io, QStringLiteral("%1: the output must end in %2").arg(out, writtenExtensions()));

    if (opts.contains(QStringLiteral("preset"))) {
        const QString& name = opts[QStringLiteral("preset")];
        target->preset = encode::findPreset(name);
        if (!target->preset)
            return usageError(
                io, QStringLiteral("no preset '%1' (quaverly-cli presets lists them)").arg(name));
        const Format wanted = target->preset->settings.format;
        if (target->format != wanted)
            return usageError(io, QStringLiteral("the preset \"%1\" writes %2: %3 must end in %4")
                                      .arg(QLatin1String(target->preset->name),
                                           QLatin1String(formats::info(wanted).name), out,
                                           listed(extensionsOf(formats::info(wanted)), "or")));
        target->settings = target->preset->settings;
    } else if (target->format) {
        target->settings.format = *target->format;
        if (target->format == Format::Mp3)
            target->settings.value = kDefaultMp3BitRate;
    }

    if (opts.contains(QStringLiteral("title"))) {
        if (target->isWav())
            return usageError(io, QStringLiteral("--title: a WAV file carries no tags"));
        target->title = opts[QStringLiteral("title")];
    }

    // What this build cannot write at all (no AAC encoder in FFmpeg) is no fault of the options.
    if (target->format) {
        if (const Status s = encode::checkSettings(target->settings, out); !s)
            return failed(io, writeFailure(out, s.error()));
    }
    return readValueOptions(opts, io, target);
}

ClipTags clipTags(const Target& target, ClipTags source) {
    if (target.title)
        source.title = *target.title;
    if (target.preset)
        encode::applyPreset(*target.preset, &source);
    return source;
}

bool lengthFits(const Target& target, std::int64_t frames, int sampleRate, const Io& io) {
    if (!target.preset)
        return true;
    const auto tooLong = encode::lengthLimitText(*target.preset, frames, sampleRate);
    if (!tooLong)
        return true;
    failed(io, QStringLiteral("%1: %2").arg(target.path, *tooLong));
    return false;
}

bool wavLengthFits(const Target& target, const QString& wav, const Io& io) {
    if (!target.preset || target.preset->maxSeconds <= 0)
        return true;
    const auto layout = probeWav(wav);
    if (!layout || layout->blockAlign == 0)
        return true;
    return lengthFits(target, std::int64_t(layout->dataSize / layout->blockAlign),
                      int(layout->sampleRate), io);
}

namespace {

// Encodes what `make` gives into the target, on a job of its own. `wav` when it is the WAV file
// `sourceName`: a failure to read it is then the encoder's ReadWav, as the encoder tells it.
Status encode(const SourceFactory& make, const QString& sourceName, bool wav, const Target& target,
              const ClipTags& tags, std::stop_token stop, Meter& meter) {
    encode::EncodeOrder order{make, sourceName, wav, target.path, target.settings, std::nullopt};
    if (!target.plainMp3())
        order.tags = tags;
    return encode::encodeMetered(
        order, {std::move(stop),
                [&meter](std::uint64_t done, std::uint64_t total) { meter.set(done, total); }});
}

int encodeJob(const SourceFactory& make, const QString& sourceName, bool wav, const Target& target,
              const ClipTags& tags, const Io& io) {
    const Status done =
        runJob(io, QStringLiteral("encoding ") + QFileInfo(target.path).fileName(),
               [&](std::stop_token stop, Meter& meter) {
                   return encode(make, sourceName, wav, target, tags, std::move(stop), meter);
               });
    if (done)
        return kOk;
    if (interrupted())
        return kCancelled;
    return failed(io, encodeFailure(done.error()));
}

} // namespace

int encodeTo(const QString& wav, const Target& target, const ClipTags& tags, const Io& io) {
    return encodeJob([&] { return encode::openWavSource(wav); }, wav, true, target, tags, io);
}

int encodeTo(SourceFactory make, const QString& sourceName, const Target& target,
             const ClipTags& tags, const Io& io) {
    return encodeJob(make, sourceName, false, target, tags, io);
}

} // namespace quaverly::cli
